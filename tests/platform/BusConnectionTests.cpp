#include "platform/dbus/BusConnection.h"
#include "platform/file/FileDescriptor.h"
#include "tests/support/TemporaryFolder.h"

#include <future>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <systemd/sd-bus.h>

namespace velm {
namespace {

using namespace std::chrono_literals;

// A socket that takes the connection and never says a word, as a frozen bus or no bus at all would.
TEST(BusConnectionTest, ABusThatNeverFinishesItsSetUpFailsTheCallsWaitingOnIt) {
    test::TemporaryFolder folder;
    const FileDescriptor listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    (folder / "bus").string().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener.get(), 1), 0);

    const auto connection = BusConnection::open(std::string("unix:path=") + address.sun_path, 500ms);
    ASSERT_TRUE(connection);
    const FileDescriptor accepted(accept(listener.get(), nullptr, nullptr));
    auto error = std::make_shared<std::promise<std::optional<std::string>>>();
    auto answered = error->get_future();
    connection->post([error](BusConnection& bus) {
        sd_bus_message* call = nullptr;
        sd_bus_message_new_method_call(bus.bus(), &call, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus", "GetId");
        // Far longer than the set-up limit, far shorter than sd-bus's own for the authentication.
        bus.call(call, 30s, [error](sd_bus_message*, const std::optional<std::string>& failure) {
            error->set_value(failure);
        });
        sd_bus_message_unref(call);
    });
    ASSERT_EQ(answered.wait_for(60s), std::future_status::ready);
    EXPECT_TRUE(answered.get().has_value()) << "an error in place of the answer";
}

} // namespace
} // namespace velm
