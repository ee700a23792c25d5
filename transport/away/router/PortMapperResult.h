#pragma once

#include "transport/away/router/PortMapperFailure.h"

#include <utility>
#include <variant>

namespace velm {

// The outcome of an asynchronous router operation: a value or a failure.
// Operations without a value use std::monostate.
template <class T> class PortMapperResult {
public:
    PortMapperResult(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    PortMapperResult(PortMapperFailure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

    bool ok() const { return state_.index() == 0; }
    const T& value() const { return std::get<0>(state_); }
    T& value() { return std::get<0>(state_); }
    const PortMapperFailure& failure() const { return std::get<1>(state_); }

private:
    std::variant<T, PortMapperFailure> state_;
};

} // namespace velm
