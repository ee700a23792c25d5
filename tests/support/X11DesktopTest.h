#pragma once

#include "tests/support/X11TestDesktop.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace velm::test {

// A test on the sandbox's X server, skipped (saying why) outside it. A fixture that sets up more
// calls this SetUp first and returns when IsSkipped().
class X11DesktopTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        desktop = X11TestDesktop::open(reason);
        if (!desktop) {
            GTEST_SKIP() << reason;
        }
    }

    std::unique_ptr<X11TestDesktop> desktop;
};

} // namespace velm::test
