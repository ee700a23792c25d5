#include "protocol/WireError.h"

#include <cinttypes>
#include <cstdio>

namespace velm {

WireError::WireError(Kind kind, std::int64_t value) : kind_(kind), value_(value) {
    switch (kind) {
    case Kind::unknownType:
        std::snprintf(message_, sizeof message_, "unknown type %" PRId64, value);
        break;
    case Kind::frameTooLarge:
        std::snprintf(message_, sizeof message_, "length out of range: %" PRId64, value);
        break;
    case Kind::truncated:
        std::snprintf(message_, sizeof message_, "truncated");
        break;
    case Kind::invalidString:
        std::snprintf(message_, sizeof message_, "invalid utf-8 string");
        break;
    }
}

const char* WireError::what() const noexcept {
    return message_;
}

} // namespace velm
