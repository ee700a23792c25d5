#include "protocol/json/JsonWriter.h"

namespace velm {

void JsonWriter::fail(std::string description) const {
    throw JsonError(JsonError::Kind::invalidValue, path_.text(), std::move(description));
}

} // namespace velm
