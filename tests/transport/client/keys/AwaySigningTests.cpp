#include "platform/dispatch/ManualQueue.h"
#include "tests/support/Blocking.h"
#include "transport/client/keys/AwaySigning.h"

#include <atomic>
#include <gtest/gtest.h>

namespace velm {
namespace {

ClientHello helloWithSignature(std::optional<Bytes> signature) {
    ClientHello hello;
    hello.deviceID = "device";
    hello.awaySignature = std::move(signature);
    return hello;
}

TEST(AwaySigning, WithoutSignerOrBindingCompletesAtOnceUnchanged) {
    auto queue = std::make_shared<ManualQueue>();
    std::vector<std::optional<Bytes>> delivered;
    const auto record = [&](ClientHello hello) { delivered.push_back(hello.awaySignature); };
    signAwayInBackground(
        helloWithSignature(Bytes{1}), std::nullopt, [](ByteView) { return Bytes{9}; }, queue, record);
    signAwayInBackground(helloWithSignature(Bytes{1}), Bytes{7}, nullptr, queue, record);
    EXPECT_EQ(delivered, (std::vector<std::optional<Bytes>>(2, Bytes{1})));
    EXPECT_EQ(queue->pendingCount(), 0u);
}

TEST(AwaySigning, SignsOffTheCallersQueueAndDeliversOnIt) {
    // A signer that gives nothing clears an earlier signature.
    for (const std::optional<Bytes>& signature :
         {std::optional<Bytes>(Bytes(64, 0xAB)), std::optional<Bytes>()}) {
        auto queue = Queue::make("velm.test.signing");
        std::atomic<bool> signedOnCallerQueue{true};
        std::atomic<bool> deliveredOnQueue{false};
        std::atomic<bool> done{false};
        std::optional<Bytes> delivered;
        Bytes seenBinding;
        queue->post([&] {
            signAwayInBackground(
                helloWithSignature(Bytes{1}), Bytes{4, 5},
                [&](ByteView binding) {
                    signedOnCallerQueue = queue->isCurrent();
                    seenBinding.assign(binding.begin(), binding.end());
                    return signature;
                },
                queue,
                [&](ClientHello hello) {
                    deliveredOnQueue = queue->isCurrent();
                    delivered = hello.awaySignature;
                    done = true;
                });
        });
        ASSERT_TRUE(Blocking::waitUntil([&] { return done.load(); }, std::chrono::seconds(10)));
        EXPECT_FALSE(signedOnCallerQueue);
        EXPECT_TRUE(deliveredOnQueue);
        EXPECT_EQ(seenBinding, (Bytes{4, 5}));
        EXPECT_EQ(delivered, signature);
    }
}

} // namespace
} // namespace velm
