#pragma once

#include <string>

namespace velm {

// What away access tells the host model (and through it the main window) about its condition.
// Two statuses are equal when they have the same kind and, for `ready` and `notReachable`, the
// same address.
class AwayStatus {
public:
    enum class Kind {
        ready,         // doors are open and the router's public address is address()
        notReachable,  // the router's own external address, address(), is not public
        off,           // away access is off
        looking,       // just switched on; no pass has decided yet
        noRouter,      // no router answered the request for its external address
        routerRefused, // the router refused door mappings and no door holds one
    };

    static AwayStatus ready(std::string address) { return AwayStatus(Kind::ready, std::move(address)); }
    static AwayStatus notReachable(std::string routerAddress) {
        return AwayStatus(Kind::notReachable, std::move(routerAddress));
    }
    static AwayStatus off() { return AwayStatus(Kind::off, {}); }
    static AwayStatus looking() { return AwayStatus(Kind::looking, {}); }
    static AwayStatus noRouter() { return AwayStatus(Kind::noRouter, {}); }
    static AwayStatus routerRefused() { return AwayStatus(Kind::routerRefused, {}); }

    Kind kind() const { return kind_; }
    // The router's external address of `ready` and `notReachable`; empty for the others.
    const std::string& address() const { return address_; }

    // The form written into the log: the kind's name, with the address for the first two, as in
    // `ready(address: "203.0.113.7")`.
    std::string description() const;

    bool operator==(const AwayStatus&) const = default;

private:
    AwayStatus(Kind kind, std::string address) : kind_(kind), address_(std::move(address)) {}

    Kind kind_;
    std::string address_;
};

} // namespace velm
