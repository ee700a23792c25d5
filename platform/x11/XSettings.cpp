#include "platform/x11/XSettings.h"

namespace velm {
namespace {

enum class SettingType : std::uint8_t { integer = 0, string = 1, colour = 2 };

// X's byte orders, as the list's first byte names them.
constexpr std::uint8_t leastSignificantFirst = 0;
constexpr std::uint8_t mostSignificantFirst = 1;
constexpr std::size_t colourBytes = 8;

// Reads the list front to back. A read past the end gives zeros and marks the reader failed, so
// that a setting is checked once, after all of it was read.
class ListReader {
public:
    explicit ListReader(ByteView bytes) : bytes_(bytes) {}

    bool failed() const { return failed_; }
    void setMostSignificantFirst(bool value) { mostSignificantFirst_ = value; }

    std::uint8_t card8() { return static_cast<std::uint8_t>(number(1)); }
    std::uint16_t card16() { return static_cast<std::uint16_t>(number(2)); }
    std::uint32_t card32() { return static_cast<std::uint32_t>(number(4)); }

    // `length` bytes and the padding after them to a multiple of four.
    std::string_view padded(std::size_t length) {
        const auto text = take(length);
        take((4 - length % 4) % 4);
        return {reinterpret_cast<const char*>(text.data()), text.size()};
    }

    void skip(std::size_t length) { take(length); }

private:
    ByteView take(std::size_t length) {
        if (failed_ || length > bytes_.size() - at_) {
            failed_ = true;
            return {};
        }
        const auto taken = bytes_.subspan(at_, length);
        at_ += length;
        return taken;
    }

    std::uint64_t number(std::size_t width) {
        const auto taken = take(width);
        std::uint64_t value = 0;
        for (std::size_t index = 0; index < taken.size(); ++index) {
            const std::size_t shift = mostSignificantFirst_ ? taken.size() - 1 - index : index;
            value |= std::uint64_t(taken[index]) << (8 * shift);
        }
        return value;
    }

    ByteView bytes_;
    std::size_t at_ = 0;
    bool failed_ = false;
    bool mostSignificantFirst_ = false;
};

} // namespace

std::optional<XSettings> XSettings::parse(ByteView bytes) {
    ListReader reader(bytes);
    const std::uint8_t order = reader.card8();
    if (order != leastSignificantFirst && order != mostSignificantFirst) {
        return std::nullopt;
    }
    reader.setMostSignificantFirst(order == mostSignificantFirst);
    reader.skip(3);
    reader.card32(); // the manager's serial number
    const std::uint32_t count = reader.card32();
    XSettings settings;
    // Every setting takes at least twelve bytes, so a count larger than the list fails within it.
    for (std::uint32_t index = 0; index < count && !reader.failed(); ++index) {
        const auto type = SettingType{reader.card8()};
        reader.skip(1);
        const std::string_view name = reader.padded(reader.card16());
        reader.card32(); // the serial number of its last change
        switch (type) {
        case SettingType::integer: {
            const auto value = static_cast<std::int32_t>(reader.card32());
            if (!reader.failed()) {
                settings.integers_.emplace(name, value);
            }
            break;
        }
        case SettingType::string:
            reader.padded(reader.card32());
            break;
        case SettingType::colour:
            reader.skip(colourBytes);
            break;
        default:
            // The length of a value of an unknown type is unknown, and so is where the next one starts.
            return std::nullopt;
        }
    }
    if (reader.failed()) {
        return std::nullopt;
    }
    return settings;
}

std::optional<std::int32_t> XSettings::integer(std::string_view name) const {
    const auto found = integers_.find(name);
    if (found == integers_.end()) {
        return std::nullopt;
    }
    return found->second;
}

} // namespace velm
