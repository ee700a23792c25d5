#include "protocol/json/JsonError.h"

#include <utility>

namespace velm {
namespace {

std::string describe(const std::string& path, const std::string& description) {
    return path.empty() ? description : path + ": " + description;
}

} // namespace

JsonError::JsonError(Kind kind, std::string path, std::string description)
    : std::runtime_error(describe(path, description)), kind_(kind), path_(std::move(path)),
      description_(std::move(description)) {}

} // namespace velm
