#include "platform/core/Base64.h"
#include "platform/crypto/Random.h"
#include "protocol/HostHello.h"
#include "protocol/json/Json.h"
#include "tests/host/session/SessionHarness.h"
#include "tests/support/FreedBlockWatch.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <new>

// The suite's allocations go through malloc and free as usual, with a look at each block before it goes.
// Every form but the aligned ones, which keep their own allocator on both sides.
void* operator new(std::size_t size) {
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* block) noexcept {
    velm::test::FreedBlockWatch::freeing(block);
    std::free(block);
}
void operator delete[](void* block) noexcept {
    operator delete(block);
}
void operator delete(void* block, std::size_t) noexcept {
    operator delete(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    operator delete(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    operator delete(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    operator delete(block);
}

namespace velm {
namespace {

using test::FreedBlockWatch;
using test::isMessage;

// The video key and the session token are wiped wherever the host held them before that memory goes
// back to the allocator: from the session's start, through its hello, to the last of it being freed.
TEST(SessionSecretsTest, TheVideoKeyAndTokenLeaveNothingInFreedMemory) {
    auto host = std::make_unique<test::SessionHarness>();
    const SecretBytes key = host->pairDevice("ipad");
    host->listen();
    auto client = std::make_unique<test::TestClient>(host->endpoint(), *PreSharedKey::forDevice("ipad", key));
    ASSERT_TRUE(host->pumpUntil([&] { return client->hasSeen<ControlChannel::Event::Ready>(); }));
    client->send(ControlMessage::hello(client->hello("ipad", key)));

    FreedBlockWatch::start();
    const auto unwatched = [](const std::function<bool()>& condition) {
        return [condition] { return FreedBlockWatch::unwatched(condition); };
    };
    ASSERT_TRUE(
        host->pumpUntil(unwatched([&] { return client->hasReceived(isMessage<ControlMessage::HelloAck>); })));
    const auto hello = FreedBlockWatch::unwatched([&] { return client->hostHello(); });
    host->session(0)->close(ByeReason::userDisconnected);
    ASSERT_TRUE(host->pumpUntil(unwatched([&] { return !host->ended.values().empty(); })));
    // The client's copies are its own.
    FreedBlockWatch::unwatched([&] {
        client.reset();
        return true;
    });
    host.reset();
    FreedBlockWatch::stop();

    ASSERT_FALSE(FreedBlockWatch::overflowed());
    ASSERT_TRUE(hello);
    EXPECT_FALSE(FreedBlockWatch::sawFreed(hello->videoKey));
    EXPECT_FALSE(FreedBlockWatch::sawFreed(hello->sessionToken));
}

// The client holds the host's hello for as long as it needs the stream's key and token; every copy it
// makes of them is wiped as it goes.
TEST(SessionSecretsTest, AHostHelloLetsItsKeyAndTokenGoWiped) {
    const Bytes key = Random::bytes(32);
    const Bytes token = Random::bytes(16);
    const std::string json =
        R"({"protocolVersion":1,"hostName":"h","displays":[],"videoPort":1,"videoKey":")" +
        Base64::encode(key) + R"(","sessionToken":")" + Base64::encode(token) + R"("})";

    FreedBlockWatch::start();
    {
        const auto hello = Json::decode<HostHello>(json);
        HostHello copy = hello;
        const HostHello moved = std::move(copy);
        copy = moved;
    }
    FreedBlockWatch::stop();

    ASSERT_FALSE(FreedBlockWatch::overflowed());
    EXPECT_FALSE(FreedBlockWatch::sawFreed(key));
    EXPECT_FALSE(FreedBlockWatch::sawFreed(token));
}

} // namespace
} // namespace velm
