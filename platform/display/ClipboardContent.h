#pragma once

#include "platform/core/Bytes.h"
#include "platform/core/CaseValue.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velm {

// One regular local file that the user copied.
struct CopiedFile {
    std::string path;
    std::string name;
    std::uint64_t size = 0;

    friend bool operator==(const CopiedFile&, const CopiedFile&) = default;
};

struct ClipboardContentCases {
    // UTF-8 text (repaired when the owner's was not).
    struct Text {
        std::string utf8;
        friend bool operator==(const Text&, const Text&) = default;
    };
    // A PNG file's bytes, as the owner gave them.
    struct Png {
        Bytes data;
        friend bool operator==(const Png&, const Png&) = default;
    };
    // Copied files: the regular local files among the first items copied.
    struct Files {
        std::vector<CopiedFile> files;
        friend bool operator==(const Files&, const Files&) = default;
    };
};

// What the clipboard holds, in the forms the desktop and the client share.
class ClipboardContent : public ClipboardContentCases,
                         public CaseValue<ClipboardContentCases::Text, ClipboardContentCases::Png,
                                          ClipboardContentCases::Files> {
public:
    using CaseValue::CaseValue;

    static ClipboardContent text(std::string utf8) { return Text{std::move(utf8)}; }
    static ClipboardContent png(Bytes data) { return Png{std::move(data)}; }
    static ClipboardContent files(std::vector<CopiedFile> files) { return Files{std::move(files)}; }
};

// Why something a local application put on the clipboard was not taken.
enum class ClipboardReadFailure {
    // The owner did not answer within the time-out.
    timedOut,
    // More than the limit for its kind.
    tooLarge,
    // The owner refused, or answered with something that does not read as what it offered.
    unreadable,
};

} // namespace velm
