#pragma once

#include "platform/net/IpAddress.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velm {

class Queue;

// Finds the addresses of a host name through the system's resolver, in the background.
class AddressLookup {
public:
    using Completion = std::function<void(std::vector<IpAddress> addresses)>;

    AddressLookup() = delete;

    // Completes once on `queue` with the addresses in the resolver's order, without repeats;
    // empty when the name does not resolve.
    static void lookup(std::string host, std::shared_ptr<Queue> queue, Completion completion);
};

} // namespace velm
