#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velm {

// Where a value sits in the JSON document being read or written. Each step lives on the stack
// of the code that walks the document and points to its parent; the text is only built when
// an error needs it, so walking stays cheap.
class JsonPath {
public:
    JsonPath() = default;
    JsonPath(const JsonPath& parent, std::string_view key) : parent_(&parent), key_(key), isKey_(true) {}
    JsonPath(const JsonPath& parent, std::size_t index) : parent_(&parent), index_(index) {}

    JsonPath(const JsonPath&) = delete;
    JsonPath& operator=(const JsonPath&) = delete;

    // "hello._0.displays[2].id"; empty at the top level.
    std::string text() const {
        if (parent_ == nullptr) {
            return {};
        }
        std::string text = parent_->text();
        if (isKey_) {
            if (!text.empty())
                text += '.';
            text += key_;
        } else {
            text += '[' + std::to_string(index_) + ']';
        }
        return text;
    }

private:
    const JsonPath* parent_ = nullptr;
    std::string_view key_;
    std::size_t index_ = 0;
    bool isKey_ = false;
};

} // namespace velm
