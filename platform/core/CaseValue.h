#pragma once

#include <concepts>
#include <type_traits>
#include <utility>
#include <variant>

namespace velm {

// The common part of a value that is exactly one of several cases, each a struct with that case's
// fields. A type derives from it, inherits its constructors and adds its own factories:
//     class Shape : public ShapeCases, public CaseValue<ShapeCases::Circle, ShapeCases::Square> {
//     public:
//         using CaseValue::CaseValue;
//     };
// The cases live in a base struct of their own because a class's nested types cannot be named in
// its base-clause; deriving from that struct keeps them reachable as Shape::Circle.
template <typename... Cases> class CaseValue {
public:
    using Value = std::variant<Cases...>;

    // Made from any one case, or from anything a case is made from, without naming the wrapper.
    // Another wrapper never goes through here, so copies keep using the copy constructor.
    template <typename Alternative>
    requires(!std::derived_from<std::remove_cvref_t<Alternative>, CaseValue> &&
             std::is_constructible_v<Value, Alternative&&>) CaseValue(Alternative&& value)
        : value_(std::forward<Alternative>(value)) {}

    const Value& value() const { return value_; }

    // The fields when the value is of that case, else null.
    template <typename Case> const Case* get() const { return std::get_if<Case>(&value_); }

    template <typename... Candidates> bool isOneOf() const {
        return (std::holds_alternative<Candidates>(value_) || ...);
    }

    // Equal when of the same case with equal fields, as each case defines equality for itself.
    friend bool operator==(const CaseValue&, const CaseValue&) = default;

protected:
    Value value_;
};

} // namespace velm
