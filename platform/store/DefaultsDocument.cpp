#include "platform/store/DefaultsDocument.h"

#include "platform/store/DefaultsEntry.h"

namespace velm {

std::optional<DefaultsDocument::Entries> DefaultsDocument::decode(ByteView contents) {
    using Json = nlohmann::json;
    bool tooDeep = false;
    // The document and an entry's wrapper add two levels above a value. Returning false drops a too-deep
    // part without building it.
    auto limitDepth = [&tooDeep](int depth, Json::parse_event_t, Json&) {
        if (depth > DefaultsEntry::maxDepth + 2) {
            tooDeep = true;
            return false;
        }
        return true;
    };
    Json document = Json::parse(contents.begin(), contents.end(), limitDepth, false);
    if (tooDeep || !document.is_object()) {
        return std::nullopt;
    }
    auto& members = document.get_ref<Json::object_t&>();
    return Entries(std::make_move_iterator(members.begin()), std::make_move_iterator(members.end()));
}

std::optional<std::string> DefaultsDocument::encode(const Entries& entries) {
    using Json = nlohmann::json;
    try {
        return Json(Json::object_t(entries.begin(), entries.end())).dump(2) + "\n";
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

} // namespace velm
