// How cheaply the door's admission path rejects junk. A datagram with an unknown tag
// must cost no cryptography at all, so its rate is set against one HMAC-SHA256 of
// the same 93 bytes; a known tag with a bad seal costs one AES-256-GCM open, so its
// rate is set against a bare EVP open of the same box with a reused context. Prints
// each ratio of the rejection rate to its baseline's rate.

#include "bench/RatioReporter.h"
#include "platform/crypto/Hmac.h"
#include "platform/crypto/Random.h"
#include "transport/away/door/Door.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <string>
#include <vector>

namespace {

using namespace velm;

constexpr std::size_t keyringDevices = 6;

struct Fixture {
    Fixture() {
        for (std::size_t index = 0; index < keyringDevices; ++index) {
            devices.push_back({"device " + std::to_string(index), Random::secret(32)});
        }
        keyring = Door::Keyring(devices, now);
        const Door::Knocker knocker(devices.back().key);
        badSeal = *knocker.knock(Door::epoch(now), now);
        badSeal[Door::knockLength - 1] ^= 0x01;
        unknownTag = Random::bytes(Door::knockLength);
    }

    const Date now = Date::now();
    std::vector<Door::Keyring::Device> devices;
    Door::Keyring keyring;
    Bytes badSeal;
    Bytes unknownTag;
};

const Fixture& fixture() {
    static const Fixture instance;
    return instance;
}

void hmacOfAKnock(benchmark::State& state) {
    const Bytes& datagram = fixture().unknownTag;
    const SecretBytes& key = fixture().devices.front().key;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Hmac::sha256(key, {datagram}));
    }
}

void rejectUnknownTag(benchmark::State& state) {
    for (auto _ : state) {
        if (fixture().keyring.admit(fixture().unknownTag, fixture().now)) {
            state.SkipWithError("admitted junk");
        }
    }
}

// One AES-256-GCM open of a knock's box that fails its tag, on a context set up once.
void bareOpenOfAKnock(benchmark::State& state) {
    const Bytes& datagram = fixture().badSeal;
    const SecretBytes key = *Door::sealKey(fixture().devices.back().key);
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "AES-256-GCM", nullptr);
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    EVP_DecryptInit_ex2(context, cipher, key.data(), nullptr, nullptr);
    unsigned char additional[13 + Door::tagLength] = {'v', 'e', 'l', 'm', '-', 'k', 'n',
                                                      'o', 'c', 'k', '-', 'v', '1'};
    std::copy_n(datagram.begin(), Door::tagLength, additional + 13);
    const unsigned char* nonce = datagram.data() + Door::tagLength;
    const unsigned char* ciphertext = nonce + 12;
    constexpr int ciphertextLength = static_cast<int>(Door::knockLength - Door::tagLength - 12 - 16);
    std::vector<unsigned char> tag(ciphertext + ciphertextLength, ciphertext + ciphertextLength + 16);
    unsigned char plaintext[ciphertextLength];
    for (auto _ : state) {
        int length = 0;
        int finalLength = 0;
        const bool opened =
            EVP_DecryptInit_ex2(context, nullptr, nullptr, nonce, nullptr) == 1 &&
            EVP_DecryptUpdate(context, nullptr, &length, additional, sizeof(additional)) == 1 &&
            EVP_DecryptUpdate(context, plaintext, &length, ciphertext, ciphertextLength) == 1 &&
            EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_AEAD_SET_TAG, 16, tag.data()) == 1 &&
            EVP_DecryptFinal_ex(context, plaintext + length, &finalLength) == 1;
        if (opened) {
            state.SkipWithError("opened a bad seal");
        }
        benchmark::DoNotOptimize(plaintext);
    }
    EVP_CIPHER_CTX_free(context);
    EVP_CIPHER_free(cipher);
}

void rejectBadSeal(benchmark::State& state) {
    for (auto _ : state) {
        if (fixture().keyring.admit(fixture().badSeal, fixture().now)) {
            state.SkipWithError("admitted a bad seal");
        }
    }
}

BENCHMARK(hmacOfAKnock);
BENCHMARK(rejectUnknownTag);
BENCHMARK(bareOpenOfAKnock);
BENCHMARK(rejectBadSeal);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    velm::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRateRatio("rejectUnknownTag", "hmacOfAKnock");
    reporter.printRateRatio("rejectBadSeal", "bareOpenOfAKnock");
    benchmark::Shutdown();
    return 0;
}
