// A knock end to end on loopback: a door client against a door listener whose owner
// admits with a keyring, each on a real serial queue of its own.

#include "platform/crypto/Random.h"
#include "tests/transport/DoorNetwork.h"
#include "transport/away/DoorClient.h"
#include "transport/away/DoorListener.h"

#include <future>
#include <gtest/gtest.h>

namespace velm {
namespace {

class DoorKnockTest : public ::testing::Test {
protected:
    static constexpr std::uint16_t controlPort = 45678;

    void SetUp() override {
        const std::vector<Door::Keyring::Device> devices{{"other", Random::secret(32)},
                                                         {"pad", SecretBytes(deviceKey)}};
        // Like the host's away access: one admission per knock id, whose reply is sent
        // again, byte for byte, to every knock that carries the id.
        listener->onDatagram = [this, keyring = Door::Keyring(devices, Date::now()),
                                stored = std::optional<Bytes>()](Bytes datagram,
                                                                 DoorListener::Reply reply) mutable {
            std::optional<Door::Admission> admission = keyring.admit(datagram, Date::now());
            if (!admission) {
                reply(std::nullopt);
                return;
            }
            if (!stored) {
                hostKey.set_value(admission->sessionKey());
                stored = admission->answer(controlPort);
            }
            reply(stored);
        };
        listener->onPort = [this](std::optional<std::uint16_t> bound) { portReport.set_value(bound); };
    }

    // Stops the door and waits until nothing on the host queue can reach this test any more.
    void TearDown() override {
        listener->close();
        std::promise<void> done;
        hostQueue->post([this, &done] {
            listener->onDatagram = nullptr;
            listener->onPort = nullptr;
            done.set_value();
        });
        done.get_future().wait();
    }

    // Opens the door and gives the port it listens on, or nothing.
    std::optional<std::uint16_t> open(std::optional<std::uint16_t> port) {
        listener->open(port);
        std::future<std::optional<std::uint16_t>> future = portReport.get_future();
        if (future.wait_for(test::patience) != std::future_status::ready) {
            ADD_FAILURE() << "the door reported no port";
            return std::nullopt;
        }
        return future.get();
    }

    DoorClient::Outcome knock(std::optional<std::uint16_t> doorPort) {
        std::promise<DoorClient::Outcome> outcome;
        const auto client = DoorClient::knock(
            "127.0.0.1", SecretBytes(deviceKey), doorPort, clientQueue,
            [&outcome](DoorClient::Outcome result) { outcome.set_value(std::move(result)); });
        std::future<DoorClient::Outcome> future = outcome.get_future();
        if (future.wait_for(test::patience) != std::future_status::ready) {
            ADD_FAILURE() << "the knock had no outcome";
            return DoorClient::NoAnswer{};
        }
        return future.get();
    }

    void expectAdmitted(const DoorClient::Outcome& outcome) {
        std::future<std::optional<SecretBytes>> host = hostKey.get_future();
        ASSERT_EQ(host.wait_for(test::patience), std::future_status::ready);
        const std::optional<SecretBytes> sessionKey = host.get();
        ASSERT_TRUE(sessionKey.has_value());
        EXPECT_EQ(outcome, DoorClient::Outcome(DoorClient::Admitted{"127.0.0.1", controlPort, *sessionKey}));
    }

    const Bytes deviceKey = Random::bytes(32);
    std::shared_ptr<Queue> hostQueue = Queue::make("velm.host.away");
    std::shared_ptr<Queue> clientQueue = Queue::make("client");
    std::shared_ptr<DoorListener> listener = DoorListener::make(hostQueue);
    std::promise<std::optional<std::uint16_t>> portReport;
    std::promise<std::optional<SecretBytes>> hostKey;
};

TEST_F(DoorKnockTest, AClientIsAdmittedThroughAFixedDoorPort) {
    const std::optional<std::uint16_t> port = open(std::nullopt);
    ASSERT_TRUE(port.has_value());
    expectAdmitted(knock(port));
}

TEST_F(DoorKnockTest, AClientFindsTheDoorPortOfTheCurrentWindow) {
    const std::uint16_t port = Door::doorPort(deviceKey, Door::epoch(Date::now()));
    if (open(port) != port) {
        GTEST_SKIP() << "door port " << port << " is taken on this machine";
    }
    expectAdmitted(knock(std::nullopt));
}

} // namespace
} // namespace velm
