// Copied-file lists from the X clipboard, written by any other program: what is read is at most the
// first items, each an absolute path without a zero byte; and paths written as percent-encoded file
// URIs read back as they were.
#include "fuzz/FuzzInput.h"
#include "fuzz/Target.h"
#include "platform/x11/CopiedFiles.h"

#include <cstdio>
#include <cstdlib>

namespace velm::fuzz {
namespace {

std::string uriOf(const std::string& path) {
    std::string uri = "file://";
    for (const char character : path) {
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02X",
                      static_cast<unsigned>(static_cast<unsigned char>(character)));
        uri += character == '/' ? std::string("/") : std::string(escaped);
    }
    return uri;
}

} // namespace

std::vector<Bytes> seeds() {
    // The first byte chooses the form.
    const auto seed = [](std::uint8_t gnomeForm, std::string_view list) {
        Bytes bytes{gnomeForm};
        bytes.insert(bytes.end(), list.begin(), list.end());
        return bytes;
    };
    return {seed(0, "# a comment\r\nfile:///home/me/Report%20final.pdf\r\nfile://localhost/tmp/a\r\n"),
            seed(1, "copy\nfile:///home/me/photo.jpg\nfile://elsewhere/x\nhttp://example.invalid/y")};
}

void fuzzOne(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const bool gnomeForm = input.flag();
    const ByteView rest = input.rest();
    const std::string list(rest.begin(), rest.end());
    const auto paths = CopiedFiles::paths(list, gnomeForm);
    if (paths.size() > CopiedFiles::maxItems) {
        std::abort();
    }
    std::string again = gnomeForm ? "copy\n" : "";
    for (const std::string& path : paths) {
        if (!path.starts_with('/') || path.find('\0') != std::string::npos) {
            std::abort();
        }
        again += uriOf(path) + "\r\n";
    }
    if (CopiedFiles::paths(again, gnomeForm) != paths) {
        std::abort();
    }
}

} // namespace velm::fuzz
