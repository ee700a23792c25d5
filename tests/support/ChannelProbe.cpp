#include "tests/support/ChannelProbe.h"

#include "tests/support/Blocking.h"

#include <algorithm>
#include <iterator>

namespace velm::test {

namespace {

using Event = ChannelProbe::Event;

bool isReady(const Event& event) {
    return event.get<Event::Ready>() != nullptr;
}
bool isClose(const Event& event) {
    return event.get<Event::Closed>() != nullptr;
}
bool isMessage(const Event& event) {
    return !isReady(event) && !isClose(event);
}

std::vector<Event> picked(const std::vector<Event>& events, bool (*pick)(const Event&)) {
    std::vector<Event> result;
    std::copy_if(events.begin(), events.end(), std::back_inserter(result), pick);
    return result;
}

bool waitFor(EventLog<Event>& events, std::size_t count, bool (*pick)(const Event&)) {
    return events.waitFor([&](const auto& values) { return picked(values, pick).size() >= count; });
}

} // namespace

ChannelProbe::ChannelProbe(std::shared_ptr<ControlChannel> channel) : channel_(std::move(channel)) {
    channel_->setOnEvent([events = events_](Event event) { events->push(std::move(event)); });
}

bool ChannelProbe::waitForReady() {
    return waitFor(*events_, 1, isReady);
}
bool ChannelProbe::waitForClose() {
    return waitFor(*events_, 1, isClose);
}
bool ChannelProbe::waitForMessages(std::size_t count) {
    return waitFor(*events_, count, isMessage);
}

bool ChannelProbe::settle() {
    return Blocking::drain(*queue_) && Blocking::drain(*queue_);
}

std::vector<Event> ChannelProbe::messages() const {
    return picked(events(), isMessage);
}

std::optional<ChannelProbe::CloseReason> ChannelProbe::closeReason() const {
    const auto closes = picked(events(), isClose);
    return closes.empty() ? std::nullopt : std::optional(closes[0].get<Event::Closed>()->reason);
}

std::size_t ChannelProbe::closeCount() const {
    return picked(events(), isClose).size();
}

} // namespace velm::test
