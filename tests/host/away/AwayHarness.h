#pragma once

// The away access service with everything around it played for real on loopback: a manual queue
// for its timing, a wall clock that follows it, and the device's side (knocks, replies, channels).

#include "Velm_Host/away/AwayAccess.h"
#include "platform/crypto/Random.h"
#include "platform/dispatch/ManualQueue.h"
#include "platform/store/DefaultsStore.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Pump.h"
#include "tests/support/QueueClock.h"
#include "tests/transport/away/door/DoorNetwork.h"
#include "transport/away/door/Door.h"
#include "transport/channel/ControlChannel.h"
#include "transport/client/away/DoorClient.h"

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace velm {

inline void PrintTo(const AwayStatus& status, std::ostream* out) {
    *out << status.description();
}

} // namespace velm

namespace velm::test {

class AwayHarness : public ::testing::Test {
protected:
    struct Arrival {
        std::shared_ptr<ControlChannel> channel;
        AwayTicket ticket;
    };

    ~AwayHarness() override {
        for (const Arrival& arrival : arrivals) {
            arrival.channel->cancel();
        }
        for (const auto& channel : clients) {
            channel->cancel();
        }
        access.reset();
        arrivals.clear();
        clients.clear();
        pumpUntilReleased(queue);
    }

    void makeAccess(std::shared_ptr<RouterClient> router) {
        access = AwayAccess::make(
            "HOST-ID", settings,
            {.queue = queue, .router = std::move(router), .routerTiming = {}, .now = clock, .listener = {}});
        access->setOnStatus([this](const AwayStatus& status) { statuses.push_back(status); });
        access->setOnConnection([this](std::shared_ptr<ControlChannel> channel, AwayTicket ticket) {
            arrivals.push_back({std::move(channel), ticket});
        });
        queue->runUntilIdle();
    }

    static Date intoThisWindow(double seconds) {
        const double start = static_cast<double>(Door::epoch(Date::now())) * Door::windowSeconds;
        return Date(start + seconds - Date::referenceDateInUnixTime);
    }

    static AwayDevice device(std::string id, std::optional<Date> until = std::nullopt) {
        return {std::move(id), Random::secret(32), until};
    }

    // The door ports the service should keep for these devices now.
    std::set<std::uint16_t> doorPorts(const std::vector<AwayDevice>& devices) const {
        std::vector<Door::Keyring::Device> keys;
        for (const auto& one : devices) {
            keys.push_back({one.id, one.key});
        }
        return AwayDoors::wantedPorts(keys, clock());
    }

    // A knock of this device for the current window, stamped `skewSeconds` off the clock.
    Bytes knockOf(const Door::Knocker& knocker, double skewSeconds = 0) const {
        const Date now = clock();
        return *knocker.knock(Door::epoch(now), Date(now.secondsSinceReferenceDate() + skewSeconds));
    }

    std::uint16_t doorOf(const AwayDevice& of) const { return Door::doorPort(of.key, Door::epoch(clock())); }

    // Sends the datagram from the peer and waits for the reply to it.
    std::optional<Bytes> exchange(LoopbackPeer& peer, std::uint16_t port, ByteView datagram) {
        peer.sendTo(port, datagram);
        std::optional<Bytes> reply;
        pumpUntil(*queue, [&] { return (reply = peer.pending()).has_value(); });
        return reply;
    }

    // Knocks as the device's door client does and waits for its outcome.
    DoorClient::Outcome knockWithClient(const AwayDevice& of) {
        std::optional<DoorClient::Outcome> outcome;
        const auto client =
            DoorClient::knock("127.0.0.1", of.key, std::nullopt, queue,
                              [&](DoorClient::Outcome result) { outcome = std::move(result); });
        EXPECT_TRUE(pumpUntil(*queue, [&] { return outcome.has_value(); }));
        return outcome.value_or(DoorClient::NoAnswer{});
    }

    // Opens the device's channel to an admitted session and waits until both ends have it.
    bool connect(std::uint16_t port, const SecretBytes& sessionKey) {
        auto ready = std::make_shared<bool>(false);
        auto channel = ControlChannel::outgoing(Endpoint::hostPort("127.0.0.1", port),
                                                PreSharedKey::forAway(sessionKey));
        channel->setOnEvent([ready](const ControlChannel::Event& event) {
            *ready = *ready || event.get<ControlChannel::Event::Ready>() != nullptr;
        });
        channel->start(queue);
        clients.push_back(channel);
        const std::size_t before = arrivals.size();
        return pumpUntil(*queue, [&] { return *ready && arrivals.size() > before; });
    }

    std::shared_ptr<ManualQueue> queue = std::make_shared<ManualQueue>("velm.host.away");
    // Tests that knock themselves run 90 s into the current window, so that no window begins or
    // ends while they run; those that use the device's door client need the real time.
    std::function<Date()> clock = queueClock(queue, intoThisWindow(90));
    std::shared_ptr<DefaultsStore> settings = std::make_shared<DefaultsStore>();
    LogCapture log;
    std::shared_ptr<AwayAccess> access;
    std::vector<AwayStatus> statuses;
    std::vector<Arrival> arrivals;
    std::vector<std::shared_ptr<ControlChannel>> clients;
};

} // namespace velm::test
