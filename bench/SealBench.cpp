// Sealing and opening 1,200-byte datagrams under one key, against bare EVP
// AES-256-GCM on the same buffers with a reused context. Prints each ratio of
// our rate to the bare rate.

#include "bench/RatioReporter.h"
#include "platform/crypto/Random.h"
#include "transport/keys/PacketOpener.h"
#include "transport/keys/PacketSealer.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <string>

namespace {

using namespace velm;

constexpr std::size_t datagramSize = 1200;

const Bytes& videoKey() {
    static const Bytes key = Random::bytes(32);
    return key;
}

const Bytes& payload() {
    static const Bytes bytes = Random::bytes(datagramSize);
    return bytes;
}

// The nonce a sealer would use, built the same way but without our types.
void setNonce(unsigned char nonce[12], std::uint64_t counter) {
    nonce[0] = 1;
    nonce[1] = nonce[2] = nonce[3] = 0;
    for (int index = 0; index < 8; ++index) {
        nonce[11 - index] = static_cast<unsigned char>(counter >> (8 * index));
    }
}

class BareCipher {
public:
    explicit BareCipher(bool encrypt) : context_(EVP_CIPHER_CTX_new()) {
        EVP_CipherInit_ex2(context_, cipher_, videoKey().data(), nullptr, encrypt ? 1 : 0, nullptr);
    }
    ~BareCipher() {
        EVP_CIPHER_CTX_free(context_);
        EVP_CIPHER_free(cipher_);
    }

    bool seal(std::uint64_t counter, const Bytes& in, unsigned char* out, unsigned char* tag) {
        unsigned char nonce[12];
        setNonce(nonce, counter);
        int length = 0;
        int finalLength = 0;
        return EVP_EncryptInit_ex2(context_, nullptr, nullptr, nonce, nullptr) == 1 &&
               EVP_EncryptUpdate(context_, out, &length, in.data(), static_cast<int>(in.size())) == 1 &&
               EVP_EncryptFinal_ex(context_, out + length, &finalLength) == 1 &&
               EVP_CIPHER_CTX_ctrl(context_, EVP_CTRL_AEAD_GET_TAG, 16, tag) == 1;
    }

    bool open(std::uint64_t counter, const unsigned char* in, std::size_t size, unsigned char* tag,
              unsigned char* out) {
        unsigned char nonce[12];
        setNonce(nonce, counter);
        int length = 0;
        int finalLength = 0;
        return EVP_DecryptInit_ex2(context_, nullptr, nullptr, nonce, nullptr) == 1 &&
               EVP_DecryptUpdate(context_, out, &length, in, static_cast<int>(size)) == 1 &&
               EVP_CIPHER_CTX_ctrl(context_, EVP_CTRL_AEAD_SET_TAG, 16, tag) == 1 &&
               EVP_DecryptFinal_ex(context_, out + length, &finalLength) == 1;
    }

private:
    EVP_CIPHER* cipher_ = EVP_CIPHER_fetch(nullptr, "AES-256-GCM", nullptr);
    EVP_CIPHER_CTX* context_;
};

void bareSeal(benchmark::State& state) {
    BareCipher cipher(true);
    Bytes datagram(datagramSize + PacketSealer::overhead);
    std::uint64_t counter = 0;
    for (auto _ : state) {
        ++counter;
        if (!cipher.seal(counter, payload(), datagram.data() + 8, datagram.data() + 8 + datagramSize)) {
            state.SkipWithError("seal failed");
        }
        benchmark::DoNotOptimize(datagram.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * datagramSize));
}

void packetSeal(benchmark::State& state) {
    PacketSealer sealer(SecretBytes(videoKey()), PacketDirection::hostToClient);
    for (auto _ : state) {
        std::optional<Bytes> datagram = sealer.seal(payload());
        if (!datagram) {
            state.SkipWithError("seal failed");
        }
        benchmark::DoNotOptimize(datagram);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * datagramSize));
}

Bytes sealedDatagram() {
    PacketSealer sealer(SecretBytes(videoKey()), PacketDirection::hostToClient);
    return *sealer.seal(payload());
}

void bareOpen(benchmark::State& state) {
    BareCipher cipher(false);
    Bytes datagram = sealedDatagram();
    Bytes plaintext(datagramSize);
    for (auto _ : state) {
        if (!cipher.open(1, datagram.data() + 8, datagramSize, datagram.data() + 8 + datagramSize,
                         plaintext.data())) {
            state.SkipWithError("open failed");
        }
        benchmark::DoNotOptimize(plaintext.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * datagramSize));
}

void packetOpen(benchmark::State& state) {
    // Without replay rejection, so the one datagram can be opened on every iteration.
    PacketOpener opener(SecretBytes(videoKey()), PacketDirection::hostToClient, false);
    const Bytes datagram = sealedDatagram();
    for (auto _ : state) {
        std::optional<Bytes> plaintext = opener.open(datagram);
        if (!plaintext) {
            state.SkipWithError("open failed");
        }
        benchmark::DoNotOptimize(plaintext);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * datagramSize));
}

BENCHMARK(bareSeal);
BENCHMARK(packetSeal);
BENCHMARK(bareOpen);
BENCHMARK(packetOpen);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    velm::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRateRatio("packetSeal", "bareSeal");
    reporter.printRateRatio("packetOpen", "bareOpen");
    benchmark::Shutdown();
    return 0;
}
