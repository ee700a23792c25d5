#include "platform/dbus/BusConnection.h"
#include "platform/file/FileDescriptor.h"
#include "tests/support/TemporaryFolder.h"

#include <future>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <systemd/sd-bus.h>
#include <thread>

namespace velm {
namespace {

using namespace std::chrono_literals;

// A socket that takes every connection and never says a word, as a bus that is frozen or is no bus at all.
class SilentBus {
public:
    SilentBus() : listener_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = (folder_ / "bus").string();
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener_.get(), 4);
        address_ = "unix:path=" + path;
        acceptor_ = std::thread([this] {
            for (int fd; (fd = accept(listener_.get(), nullptr, nullptr)) >= 0;) {
                accepted_.emplace_back(fd);
            }
        });
    }
    ~SilentBus() {
        shutdown(listener_.get(), SHUT_RDWR);
        acceptor_.join();
    }

    const std::string& address() const { return address_; }

private:
    test::TemporaryFolder folder_;
    FileDescriptor listener_;
    std::string address_;
    std::vector<FileDescriptor> accepted_;
    std::thread acceptor_;
};

// The answer to a call to the bus itself, or its error.
std::future<std::optional<std::string>> askForId(BusConnection& connection,
                                                 std::chrono::milliseconds timeout) {
    auto answer = std::make_shared<std::promise<std::optional<std::string>>>();
    auto future = answer->get_future();
    connection.post([answer, timeout](BusConnection& bus) {
        sd_bus_message* call = nullptr;
        sd_bus_message_new_method_call(bus.bus(), &call, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus", "GetId");
        const bool sent =
            bus.call(call, timeout, [answer](sd_bus_message*, const std::optional<std::string>& error) {
                answer->set_value(error);
            });
        sd_bus_message_unref(call);
        if (!sent) {
            answer->set_value("not sent");
        }
    });
    return future;
}

TEST(BusConnectionTest, ABusThatNeverFinishesItsSetUpFailsTheCallsWaitingOnIt) {
    SilentBus silent;
    const auto connection = BusConnection::open(silent.address(), 500ms);
    ASSERT_TRUE(connection);
    // Longer than the set-up limit, far shorter than sd-bus's own for the authentication.
    auto answer = askForId(*connection, 30s);
    ASSERT_EQ(answer.wait_for(60s), std::future_status::ready);
    EXPECT_TRUE(answer.get().has_value()) << "an error in place of the answer";
}

} // namespace
} // namespace velm
