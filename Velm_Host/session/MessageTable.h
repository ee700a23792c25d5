#pragma once

#include "protocol/ControlMessage.h"

#include <array>
#include <cstddef>
#include <functional>
#include <type_traits>
#include <variant>

namespace velm {

// Which member function of `Owner` handles each case of control message: each stage of a session keeps
// one, built once, so what it answers to is read in one place. Cases the table leaves out are not the
// stage's to handle.
template <typename Owner> class MessageTable {
public:
    template <typename Case> MessageTable& on(void (Owner::*handler)(const Case&)) {
        entries_[indexOf<Case>(static_cast<Cases*>(nullptr))] = [handler](Owner& owner,
                                                                          const ControlMessage& message) {
            (owner.*handler)(*message.get<Case>());
        };
        return *this;
    }

    bool names(const ControlMessage& message) const { return bool(entries_[message.value().index()]); }

    // False when the table leaves the message's case out.
    bool dispatch(Owner& owner, const ControlMessage& message) const {
        const auto& entry = entries_[message.value().index()];
        if (!entry) {
            return false;
        }
        entry(owner, message);
        return true;
    }

private:
    using Cases = ControlMessage::Value;

    template <typename Case, typename... All> static constexpr std::size_t indexOf(std::variant<All...>*) {
        constexpr bool matches[] = {std::is_same_v<Case, All>...};
        std::size_t index = 0;
        while (!matches[index]) {
            ++index;
        }
        return index;
    }

    std::array<std::function<void(Owner&, const ControlMessage&)>, std::variant_size_v<Cases>> entries_;
};

} // namespace velm
