// A knock end to end on loopback: a door client against a door listener whose owner
// admits with a keyring, each on a real serial queue of its own.

#include "platform/crypto/Random.h"
#include "tests/transport/away/door/DoorNetwork.h"
#include "transport/away/door/DoorClient.h"
#include "transport/away/door/DoorListener.h"

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
        listener->setOnDatagram(
            [this, keyring = Door::Keyring(devices, Date::now()),
             stored = std::optional<Bytes>()](Bytes datagram, DoorListener::Reply reply) mutable {
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
            });
        listener->setOnPort([this](std::optional<std::uint16_t> bound) { portReport.set_value(bound); });
    }

    // Stops the door and waits until nothing on the host queue can reach this test any more.
    void TearDown() override {
        listener->close();
        std::promise<void> done;
        hostQueue->post([this, &done] {
            listener->setOnDatagram(nullptr);
            listener->setOnPort(nullptr);
            done.set_value();
        });
        done.get_future().wait();
    }

    // The value of `future`, or nothing when it does not come within patience.
    template <typename T> static std::optional<T> await(std::future<T> future, const char* what) {
        if (future.wait_for(test::patience) != std::future_status::ready) {
            ADD_FAILURE() << what;
            return std::nullopt;
        }
        return future.get();
    }

    // Opens the door and gives the port it listens on, or nothing.
    std::optional<std::uint16_t> open(std::optional<std::uint16_t> port) {
        listener->open(port);
        return await(portReport.get_future(), "the door reported no port").value_or(std::nullopt);
    }

    DoorClient::Outcome knock(std::optional<std::uint16_t> doorPort) {
        std::promise<DoorClient::Outcome> outcome;
        const auto client = DoorClient::knock(
            "127.0.0.1", SecretBytes(deviceKey), doorPort, clientQueue,
            [&outcome](DoorClient::Outcome result) { outcome.set_value(std::move(result)); });
        return await(outcome.get_future(), "the knock had no outcome").value_or(DoorClient::NoAnswer{});
    }

    void expectAdmitted(const DoorClient::Outcome& outcome) {
        const auto sessionKey = await(hostKey.get_future(), "the host admitted nobody");
        ASSERT_TRUE(sessionKey && *sessionKey);
        EXPECT_EQ(outcome, DoorClient::Outcome(DoorClient::Admitted{"127.0.0.1", controlPort, **sessionKey}));
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
