#include "transport/channel/VelmService.h"

#include "platform/crypto/Random.h"

#include <cstdio>
#include <utility>

namespace velm::VelmService {

namespace {

constexpr std::uint64_t codeRange = 1'000'000;

// A uniform number below codeRange without modulo bias: the high half of the
// 128-bit product draw × range, drawing again while the low half falls in the
// short, biased stretch at the bottom.
std::uint64_t uniformBelowRange(const std::function<std::uint64_t()>& draw) {
    __extension__ using Wide = unsigned __int128;
    constexpr std::uint64_t threshold = (0 - codeRange) % codeRange;
    for (;;) {
        const Wide product = static_cast<Wide>(draw()) * codeRange;
        if (static_cast<std::uint64_t>(product) >= threshold) {
            return static_cast<std::uint64_t>(product >> 64);
        }
    }
}

} // namespace

TlsParameters tlsParameters(const std::vector<PreSharedKey>& keys) {
    std::vector<TlsKey> tlsKeys;
    tlsKeys.reserve(keys.size());
    for (const PreSharedKey& key : keys) {
        tlsKeys.push_back({key.identity(), key.key()});
    }
    return TlsParameters(std::move(tlsKeys));
}

TlsParameters tlsParameters(std::string_view secret) {
    return tlsParameters(std::vector{PreSharedKey::fromSecret(secret)});
}

UdpSocket::Binding udpParameters() {
    return {.port = std::nullopt, .reuseAddress = true, .interactiveVideo = true, .bothFamilies = true};
}

std::string newCode() {
    return newCode(Random::uint64);
}

std::string newCode(const std::function<std::uint64_t()>& draw) {
    char code[8];
    std::snprintf(code, sizeof code, "%06u", static_cast<unsigned>(uniformBelowRange(draw)));
    return code;
}

// Characters are counted as code points, so the split never falls inside one.
std::string displayCode(std::string_view code) {
    std::size_t characters = 0;
    std::size_t middle = 0;
    for (std::size_t index = 0; index < code.size(); ++index) {
        const bool startsCharacter = (static_cast<unsigned char>(code[index]) & 0xC0) != 0x80;
        if (startsCharacter && ++characters == 4) {
            middle = index;
        }
    }
    if (characters != 6) {
        return std::string(code);
    }
    std::string shown(code.substr(0, middle));
    shown += ' ';
    shown += code.substr(middle);
    return shown;
}

Bytes randomBytes(std::size_t count) {
    return Random::bytes(count);
}

} // namespace velm::VelmService
