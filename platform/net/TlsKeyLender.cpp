#include "platform/net/TlsKeyLender.h"

#include <utility>

namespace velm {

TlsKeyLender::Loan::Loan(SecretBytes secret, std::function<void(Outcome)> settle, std::uint64_t tag)
    : secret_(std::move(secret)), settle_(std::move(settle)), tag_(tag) {}

TlsKeyLender::Loan::~Loan() {
    settle(Outcome::unused);
}

TlsKeyLender::Loan::Loan(Loan&& other) noexcept
    : secret_(std::move(other.secret_)), settle_(std::exchange(other.settle_, nullptr)), tag_(other.tag_) {}

TlsKeyLender::Loan& TlsKeyLender::Loan::operator=(Loan&& other) noexcept {
    if (this != &other) {
        settle(Outcome::unused);
        secret_ = std::move(other.secret_);
        settle_ = std::exchange(other.settle_, nullptr);
        tag_ = other.tag_;
    }
    return *this;
}

void TlsKeyLender::Loan::settle(Outcome outcome) {
    if (auto settle = std::exchange(settle_, nullptr)) {
        settle(outcome);
    }
}

} // namespace velm
