#pragma once

#include "transport/files/FileReceiver.h"
#include "transport/files/FileTransferError.h"

#include <ostream>
#include <variant>

namespace velm {

// Readable failure messages for the file-transfer values in GoogleTest expectations.
inline void PrintTo(const FileTransferError& error, std::ostream* out) {
    *out << error.describe();
    if (error.kind() == FileTransferError::Kind::refused) {
        *out << "(\"" << error.reason() << "\")";
    }
}

inline void PrintTo(const FileReceiver::Step& step, std::ostream* out) {
    if (const auto* more = std::get_if<FileReceiver::More>(&step)) {
        *out << "more(" << more->received << ")";
    } else if (const auto* done = std::get_if<FileReceiver::Done>(&step)) {
        *out << "done(" << done->url << ")";
    } else {
        *out << "failed(";
        PrintTo(std::get<FileReceiver::Failed>(step).error, out);
        *out << ")";
    }
}

} // namespace velm
