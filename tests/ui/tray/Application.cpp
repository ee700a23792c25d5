#include "tests/support/OffscreenApplication.h"

#include <cstdlib>

namespace {

// On the sandbox's display when it has a tray (scripts/tray-sandbox.sh), where the tests skip otherwise.
class TrayDisplayApplication : public velm::test::OffscreenApplication {
public:
    void SetUp() override {
        if (std::getenv("VELM_TEST_TRAY") != nullptr && std::getenv("DISPLAY") != nullptr) {
            qputenv("QT_QPA_PLATFORM", "xcb");
        }
        OffscreenApplication::SetUp();
    }
};

const auto* const application = testing::AddGlobalTestEnvironment(new TrayDisplayApplication);

} // namespace
