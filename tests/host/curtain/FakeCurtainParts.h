#pragma once

#include "Velm_Host/curtain/Curtain.h"
#include "tests/support/FakeBootClock.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velm::test {

// The curtain's parts as fakes that write what is done to them into one journal, in order: "cover 1 2"
// (screen ids), "uncover", "hold NAME, NAME" (the devices the tap chose), "release", "lock". Waits that
// outlast a suspend are on `bootClock`.
class FakeCurtainParts {
public:
    using Journal = std::shared_ptr<std::vector<std::string>>;

    // A screen; the one with id 1 is the main one.
    static Monitor screen(std::uint32_t id, bool builtIn, std::optional<std::uint16_t> vendor) {
        return {.id = id,
                .name = "screen",
                .frame = {},
                .isMain = id == 1,
                .isBuiltIn = builtIn,
                .vendor = vendor,
                .refreshRate = std::nullopt};
    }

    struct Screens final : ScreenList {
        std::vector<Monitor> monitors() const override { return list; }
        void setOnChange(ChangeHandler handler) override { onChange = std::move(handler); }
        void startWatching() override {}
        void stopWatching() override {}
        void change(std::vector<Monitor> now) { onChange(list = std::move(now)); }

        std::vector<Monitor> list;
        ChangeHandler onChange;
    };

    struct Shields final : ShieldWindows {
        explicit Shields(Journal written) : journal(std::move(written)) {}
        void cover(const std::vector<Monitor>& screens) override {
            std::string entry = "cover";
            for (const Monitor& screen : screens) {
                entry += " " + std::to_string(screen.id);
            }
            journal->push_back(entry);
        }
        void uncover() override { journal->push_back("uncover"); }

        Journal journal;
    };

    struct Grab final : DeviceGrab {
        explicit Grab(Journal written) : journal(std::move(written)) {}
        void setOnFailed(FailureHandler handler) override { onFailed = std::move(handler); }
        std::optional<Failure> start(Choice choice) override {
            if (refuseNext) {
                return std::exchange(refuseNext, std::nullopt);
            }
            std::string entry = "hold";
            for (const InputDevice& device : devices) {
                if (choice(device)) {
                    entry += (entry == "hold" ? " " : ", ") + device.name;
                }
            }
            journal->push_back(entry);
            return std::nullopt;
        }
        void stop() override { journal->push_back("release"); }

        Journal journal;
        std::vector<InputDevice> devices{
            {4, "Virtual core XTEST pointer", InputDevice::Kind::pointer, true},
            {5, "Virtual core XTEST keyboard", InputDevice::Kind::keyboard, true},
            {6, "Xvfb mouse", InputDevice::Kind::pointer, false},
            {7, "Xvfb keyboard", InputDevice::Kind::keyboard, false}};
        std::optional<Failure> refuseNext;
        FailureHandler onFailed;
    };

    struct Lock final : ScreenLock {
        explicit Lock(Journal written) : journal(std::move(written)) {}
        void lock(Done done) override {
            journal->push_back("lock");
            pending = std::move(done);
        }

        Journal journal;
        Done pending;
    };

    Curtain::Parts parts() const {
        return {screens, shields, std::make_shared<CurtainTap>(grab), screenLock, bootClock};
    }
    // What was done since the last look.
    std::vector<std::string> take() { return std::exchange(*journal, {}); }

    Journal journal = std::make_shared<std::vector<std::string>>();
    std::shared_ptr<Screens> screens = std::make_shared<Screens>();
    std::shared_ptr<Shields> shields = std::make_shared<Shields>(journal);
    std::shared_ptr<Grab> grab = std::make_shared<Grab>(journal);
    std::shared_ptr<Lock> screenLock = std::make_shared<Lock>(journal);
    std::shared_ptr<FakeBootClock> bootClock = std::make_shared<FakeBootClock>();
};

} // namespace velm::test
