#include "tests/support/ChannelProbe.h"

#include "tests/support/Blocking.h"

#include <algorithm>

namespace velm::test {

namespace {

bool isMessage(const ChannelProbe::Event& event) {
    return !event.get<ChannelProbe::Event::Ready>() && !event.get<ChannelProbe::Event::Closed>();
}

} // namespace

ChannelProbe::ChannelProbe(std::shared_ptr<ControlChannel> channel) : channel_(std::move(channel)) {
    channel_->setOnEvent([events = events_](Event event) { events->push(std::move(event)); });
}

bool ChannelProbe::waitForReady() {
    return events_->waitFor([](const auto& events) {
        return std::any_of(events.begin(), events.end(),
                           [](const Event& e) { return e.get<Event::Ready>(); });
    });
}

bool ChannelProbe::waitForClose() {
    return events_->waitFor([](const auto& events) {
        return std::any_of(events.begin(), events.end(),
                           [](const Event& e) { return e.get<Event::Closed>(); });
    });
}

bool ChannelProbe::waitForMessages(std::size_t count) {
    return events_->waitFor([count](const auto& events) {
        return static_cast<std::size_t>(std::count_if(events.begin(), events.end(), isMessage)) >= count;
    });
}

bool ChannelProbe::settle() {
    return Blocking::drain(*queue_) && Blocking::drain(*queue_);
}

std::vector<ChannelProbe::Event> ChannelProbe::messages() const {
    std::vector<Event> result;
    for (const Event& event : events_->values()) {
        if (isMessage(event)) {
            result.push_back(event);
        }
    }
    return result;
}

std::optional<ChannelProbe::CloseReason> ChannelProbe::closeReason() const {
    for (const Event& event : events_->values()) {
        if (const auto* closed = event.get<Event::Closed>()) {
            return closed->reason;
        }
    }
    return std::nullopt;
}

std::size_t ChannelProbe::closeCount() const {
    const auto events = events_->values();
    return static_cast<std::size_t>(
        std::count_if(events.begin(), events.end(), [](const Event& e) { return e.get<Event::Closed>(); }));
}

bool ChannelProbe::sawReady() const {
    const auto events = events_->values();
    return std::any_of(events.begin(), events.end(), [](const Event& e) { return e.get<Event::Ready>(); });
}

} // namespace velm::test
