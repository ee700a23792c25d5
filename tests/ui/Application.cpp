#include "tests/support/OffscreenApplication.h"

namespace {

const auto* const application = testing::AddGlobalTestEnvironment(new velm::test::OffscreenApplication);

} // namespace
