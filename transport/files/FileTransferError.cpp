#include "transport/files/FileTransferError.h"

namespace velm {

std::string_view FileTransferError::describe() const {
    switch (kind_) {
    case Kind::refused:
        return "refused";
    case Kind::connectionLost:
        return "connection lost";
    case Kind::cancelled:
        return "cancelled";
    case Kind::cannotRead:
        return "cannot read";
    case Kind::cannotWrite:
        return "cannot write";
    case Kind::wrongLength:
        return "wrong length";
    }
    return "unknown";
}

} // namespace velm
