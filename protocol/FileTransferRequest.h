#pragma once

#include "platform/core/CaseValue.h"
#include "protocol/json/JsonRecord.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace velm {

// The cases of FileTransferRequest. They are complete before the variant of them is made: the
// member initialisers of a class nested in another are only read once the outer one is complete.
struct FileTransferRequestCases {
    // The device wants to send a file of this name and length.
    struct Upload {
        static constexpr std::string_view caseName = "upload";
        std::string name;
        std::uint64_t size = 0;

        static void fields(auto& visit, auto&... self) {
            visit("name", self.name...);
            visit("size", self.size...);
        }
        friend bool operator==(const Upload& a, const Upload& b) { return fieldsEqual(a, b); }
    };

    // The device wants the offered file with this FileItem id.
    struct Download {
        static constexpr std::string_view caseName = "download";
        std::uint32_t id = 0;

        static void fields(auto& visit, auto&... self) { visit("id", self.id...); }
        friend bool operator==(const Download& a, const Download& b) { return fieldsEqual(a, b); }
    };
};

// What a device asks for on a file connection of its own.
class FileTransferRequest
    : public FileTransferRequestCases,
      public CaseValue<FileTransferRequestCases::Upload, FileTransferRequestCases::Download> {
public:
    using CaseValue::CaseValue;

    // The first case with empty values, to be filled by a decoder.
    FileTransferRequest() : CaseValue(Upload{}) {}

    static FileTransferRequest upload(std::string name, std::uint64_t size) {
        return Upload{std::move(name), size};
    }
    static FileTransferRequest download(std::uint32_t id) { return Download{id}; }
};

} // namespace velm
