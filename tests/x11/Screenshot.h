#pragma once

#include "platform/image/Image.h"

#include <QImage>
#include <filesystem>
#include <string>

namespace velm::test {

// Writes what a test drew to the build folder's screenshots/, for a person to look at.
inline void saveScreenshot(const Image& image, const std::string& name) {
    const std::filesystem::path folder = VELM_SCREENSHOT_DIR;
    std::filesystem::create_directories(folder);
    const QImage picture(image.pixels.data(), image.width, image.height, image.width * 4,
                         image.format == Image::Format::rgba ? QImage::Format_RGBA8888
                                                             : QImage::Format_RGB32);
    picture.save(QString::fromStdString((folder / (name + ".png")).string()));
}

} // namespace velm::test
