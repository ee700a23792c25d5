#pragma once

#include "platform/core/CaseValue.h"
#include "protocol/json/JsonRecord.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace velm {

// The cases of FileTransferReply. They are complete before the variant of them is made: the
// member initialisers of a class nested in another are only read once the outer one is complete.
struct FileTransferReplyCases {
    // The transfer may start: for an upload the cleaned name and the requested size, for a
    // download the offered file's name and length, whose bytes follow.
    struct Ready {
        static constexpr std::string_view caseName = "ready";
        std::string name;
        std::uint64_t size = 0;

        static void fields(auto& visit, auto&... self) {
            visit("name", self.name...);
            visit("size", self.size...);
        }
        friend bool operator==(const Ready& a, const Ready& b) { return fieldsEqual(a, b); }
    };

    // The transfer will not happen; the reason is a sentence for the user.
    struct Refused {
        static constexpr std::string_view caseName = "refused";
        std::string reason;

        static void fields(auto& visit, auto&... self) { visit("reason", self.reason...); }
        friend bool operator==(const Refused& a, const Refused& b) { return fieldsEqual(a, b); }
    };

    // The upload is complete and was stored under this name.
    struct Stored {
        static constexpr std::string_view caseName = "stored";
        std::string name;

        static void fields(auto& visit, auto&... self) { visit("name", self.name...); }
        friend bool operator==(const Stored& a, const Stored& b) { return fieldsEqual(a, b); }
    };
};

// The answer of the side that holds, or is to receive, a file.
class FileTransferReply : public FileTransferReplyCases,
                          public CaseValue<FileTransferReplyCases::Ready, FileTransferReplyCases::Refused,
                                           FileTransferReplyCases::Stored> {
public:
    using CaseValue::CaseValue;

    // The first case with empty values, to be filled by a decoder.
    FileTransferReply() : CaseValue(Ready{}) {}

    static FileTransferReply ready(std::string name, std::uint64_t size) {
        return Ready{std::move(name), size};
    }
    static FileTransferReply refused(std::string reason) { return Refused{std::move(reason)}; }
    static FileTransferReply stored(std::string name) { return Stored{std::move(name)}; }
};

} // namespace velm
