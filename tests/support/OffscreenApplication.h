#pragma once

#include <QApplication>
#include <QByteArray>
#include <gtest/gtest.h>
#include <memory>

namespace velm::test {

// The one application object that views, icons and fonts need, on Qt's offscreen platform unless
// the environment names another. A suite registers it once:
//     const auto* application = testing::AddGlobalTestEnvironment(new velm::test::OffscreenApplication);
class OffscreenApplication : public testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        application_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { application_.reset(); }

private:
    int argc_ = 1;
    char name_[9] = "velm-ui";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};

} // namespace velm::test
