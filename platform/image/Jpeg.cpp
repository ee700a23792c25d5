#include "platform/image/Jpeg.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <turbojpeg.h>

namespace velm::Jpeg {

namespace {

struct HandleCloser {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

struct BufferFreer {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

int pixelFormat(Image::Format format) {
    return format == Image::Format::bgrx ? TJPF_BGRX : TJPF_RGBA;
}

} // namespace

std::optional<Bytes> encode(const Image& image, int quality) {
    if (!image.isValid()) {
        return std::nullopt;
    }
    const Handle handle(tjInitCompress());
    if (!handle) {
        return std::nullopt;
    }
    unsigned char* output = nullptr;
    unsigned long size = 0;
    const int failed = tjCompress2(handle.get(), image.pixels.data(), image.width, 0, image.height,
                                   pixelFormat(image.format), &output, &size, TJSAMP_420,
                                   std::clamp(quality, 1, 100), TJFLAG_FASTDCT);
    const std::unique_ptr<unsigned char, BufferFreer> owned(output);
    if (failed != 0 || !output) {
        return std::nullopt;
    }
    return Bytes(output, output + size);
}

std::optional<Image> decode(ByteView data, std::size_t maxPixels) {
    if (data.empty() || data.size() > std::numeric_limits<unsigned long>::max()) {
        return std::nullopt;
    }
    const Handle handle(tjInitDecompress());
    if (!handle) {
        return std::nullopt;
    }
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colourspace = 0;
    if (tjDecompressHeader3(handle.get(), data.data(), static_cast<unsigned long>(data.size()), &width,
                            &height, &subsampling, &colourspace) != 0 ||
        width <= 0 || height <= 0 ||
        static_cast<std::size_t>(width) > maxPixels / static_cast<std::size_t>(height)) {
        return std::nullopt;
    }
    Image image{width, height, Image::Format::rgba, {}};
    image.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                        Image::bytesPerPixel);
    // Warnings (a damaged file decoded in part) count as failures: nothing half-drawn is handed on.
    if (tjDecompress2(handle.get(), data.data(), static_cast<unsigned long>(data.size()), image.pixels.data(),
                      width, 0, height, TJPF_RGBA, TJFLAG_STOPONWARNING) != 0) {
        return std::nullopt;
    }
    return image;
}

} // namespace velm::Jpeg
