#pragma once

#include <QImage>
#include <QString>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace velm::test {

// Every picture a test draws is kept as a PNG under the build folder's screenshots/, named after
// the suite, so that a person can look at what the views show.
inline std::filesystem::path screenshotFolder() {
    return std::filesystem::path(VELM_SCREENSHOT_DIR);
}

inline void writeScreenshot(const QImage& image, const std::string& name) {
    const std::filesystem::path folder = screenshotFolder();
    std::filesystem::create_directories(folder);
    const std::filesystem::path file = folder / (name + ".png");
    EXPECT_TRUE(image.save(QString::fromStdString(file.string()), "PNG")) << "could not write " << file;
}

} // namespace velm::test
