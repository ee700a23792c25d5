#include "tests/support/ChannelProbe.h"

#include "tests/support/Blocking.h"

#include <algorithm>

namespace velm::test {

namespace {

using Event = ChannelProbe::Event;

bool isMessage(const Event& event) {
    return !event.get<Event::Ready>() && !event.get<Event::Closed>();
}

template <typename Kind> std::size_t countOf(const std::vector<Event>& events) {
    return static_cast<std::size_t>(
        std::count_if(events.begin(), events.end(), [](const Event& e) { return e.get<Kind>(); }));
}

} // namespace

ChannelProbe::ChannelProbe(std::shared_ptr<ControlChannel> channel) : channel_(std::move(channel)) {
    channel_->setOnEvent([events = events_](Event event) { events->push(std::move(event)); });
}

bool ChannelProbe::waitForReady() {
    return events_->waitFor([](const auto& events) { return countOf<Event::Ready>(events) > 0; });
}

bool ChannelProbe::waitForClose() {
    return events_->waitFor([](const auto& events) { return countOf<Event::Closed>(events) > 0; });
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
    return countOf<Event::Closed>(events_->values());
}

} // namespace velm::test
