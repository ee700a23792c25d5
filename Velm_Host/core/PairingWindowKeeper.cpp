#include "Velm_Host/core/PairingWindowKeeper.h"

#include "platform/log/Log.h"

#include <utility>

namespace velm {
namespace {

const Log pairingLog("pairing");

} // namespace

PairingWindowKeeper::~PairingWindowKeeper() {
    expiry_.cancel();
}

bool PairingWindowKeeper::isOpen(Date now) const {
    return window_ && (!window_->expires || now < *window_->expires);
}

void PairingWindowKeeper::open(PairingWindow window, std::optional<std::chrono::seconds> duration,
                               bool carriedOver, std::function<void(std::uint64_t generation)> onExpiry) {
    expiry_.cancel();
    window_ = std::move(window);
    carriedOver_ = carriedOver;
    triesLent_ = 0;
    const std::uint64_t generation = ++windowGeneration_;
    if (duration) {
        expiry_ = queue_->postAfter(*duration,
                                    [generation, onExpiry = std::move(onExpiry)] { onExpiry(generation); });
    }
}

void PairingWindowKeeper::close(const char* why) {
    expiry_.cancel();
    window_.reset();
    carriedOver_ = false;
    triesLent_ = 0;
    ++windowGeneration_;
    pairingLog.info("%s", why);
}

bool PairingWindowKeeper::expire(std::uint64_t generation) {
    if (generation != windowGeneration_ || !window_) {
        return false;
    }
    close("pairing expired");
    return true;
}

std::optional<PairingWindowKeeper::Loan> PairingWindowKeeper::lend(Date now) {
    if (!isOpen(now) || triesLent_ >= window_->wrongTriesLeft) {
        return std::nullopt;
    }
    ++triesLent_;
    return Loan{.code = window_->code, .generation = windowGeneration_};
}

std::optional<PairingWindowKeeper::WrongTry> PairingWindowKeeper::settle(std::uint64_t generation,
                                                                         TlsKeyLender::Outcome outcome) {
    if (generation != windowGeneration_ || !window_) {
        return std::nullopt;
    }
    --triesLent_;
    if (outcome != TlsKeyLender::Outcome::rejected) {
        return std::nullopt;
    }
    const int left = --window_->wrongTriesLeft;
    pairingLog.info("wrong pairing code, %d tries left", left);
    if (left > 0) {
        return WrongTry{.triesLeft = left};
    }
    const bool carriedOver = carriedOver_;
    close("pairing closed after too many wrong codes");
    return WrongTry{.triesLeft = left, .usedUpCarriedOverCode = carriedOver};
}

} // namespace velm
