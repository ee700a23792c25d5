#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velm {

// The key/value strings a service carries beside its address, in their order on the wire.
// An entry written as a bare key ("flag", no '=') reads back with an empty value.
class TxtRecord {
public:
    struct Entry {
        std::string key;
        std::string value;

        bool operator==(const Entry&) const = default;
    };

    // One entry on the wire is a length byte and "key=value".
    static constexpr std::size_t maxEntrySize = 255;

    TxtRecord() = default;
    TxtRecord(std::initializer_list<Entry> entries) : entries_(entries) {}
    explicit TxtRecord(std::vector<Entry> entries) : entries_(std::move(entries)) {}

    const std::vector<Entry>& entries() const { return entries_; }
    void add(std::string key, std::string value) { entries_.push_back({std::move(key), std::move(value)}); }

    // The value of the first entry whose key matches, ignoring ASCII case as peers do; later entries
    // with the same key do not count.
    std::optional<std::string> value(std::string_view key) const;

    // Whether every entry can be published: a key of printable ASCII without '=', and at most
    // maxEntrySize bytes for "key=value".
    bool isPublishable() const;

    // An entry as it travels, "key=value", split at the first '='. Text that is not UTF-8 is repaired,
    // since peers may send anything.
    static Entry parseEntry(std::string_view raw);

    bool operator==(const TxtRecord&) const = default;

private:
    std::vector<Entry> entries_;
};

} // namespace velm
