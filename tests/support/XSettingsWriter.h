#pragma once

#include "platform/core/Bytes.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace velm::test {

// Writes a settings list in the XSETTINGS wire format, as a desktop's settings manager publishes it,
// in either byte order. Plain C++, so that the fuzz targets' seeds come from it too.
class XSettingsWriter {
public:
    explicit XSettingsWriter(bool mostSignificantFirst = false)
        : mostSignificantFirst_(mostSignificantFirst) {}

    XSettingsWriter& integer(std::string_view name, std::int32_t value) {
        head(0, name);
        card(static_cast<std::uint32_t>(value), 4);
        return *this;
    }

    XSettingsWriter& string(std::string_view name, std::string_view value) {
        head(1, name);
        card(static_cast<std::uint32_t>(value.size()), 4);
        padded(value);
        return *this;
    }

    XSettingsWriter& colour(std::string_view name, std::array<std::uint16_t, 4> redBlueGreenAlpha) {
        head(2, name);
        for (const std::uint16_t channel : redBlueGreenAlpha) {
            card(channel, 2);
        }
        return *this;
    }

    // The list: byte order, serial number and count, then the settings written so far.
    Bytes bytes() const {
        XSettingsWriter list(mostSignificantFirst_);
        list.out_ = {static_cast<std::uint8_t>(mostSignificantFirst_ ? 1 : 0), 0, 0, 0};
        list.card(serial, 4);
        list.card(count_, 4);
        list.out_.insert(list.out_.end(), out_.begin(), out_.end());
        return list.out_;
    }

    std::uint32_t serial = 7;

private:
    void head(std::uint8_t type, std::string_view name) {
        ++count_;
        out_.insert(out_.end(), {type, 0});
        card(static_cast<std::uint32_t>(name.size()), 2);
        padded(name);
        card(serial, 4);
    }

    void padded(std::string_view text) {
        out_.insert(out_.end(), text.begin(), text.end());
        out_.resize(out_.size() + (4 - text.size() % 4) % 4, 0);
    }

    void card(std::uint32_t value, std::size_t width) {
        for (std::size_t index = 0; index < width; ++index) {
            const std::size_t shift = mostSignificantFirst_ ? width - 1 - index : index;
            out_.push_back(static_cast<std::uint8_t>(value >> (8 * shift)));
        }
    }

    bool mostSignificantFirst_;
    std::uint32_t count_ = 0;
    Bytes out_;
};

} // namespace velm::test
