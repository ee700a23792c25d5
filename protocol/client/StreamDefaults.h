#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace velm {

// The client's stored stream preferences, their upgrade from older generations of the store, and the
// rules that turn a preference into what the client asks for.
class StreamDefaults {
public:
    StreamDefaults() = delete;

    // Where the preferences are kept: the client's store of typed settings, passed in by the caller.
    class Settings {
    public:
        virtual ~Settings() = default;
        virtual std::optional<bool> boolValue(std::string_view key) const = 0;
        virtual std::optional<std::int64_t> integerValue(std::string_view key) const = 0;
        // False when the value could not be stored.
        virtual bool setBool(std::string_view key, bool value) = 0;
        virtual bool setInteger(std::string_view key, std::int64_t value) = 0;
    };

    // Settings over any store that offers those four members under the same names (the settings store does).
    template <typename Store> class StoreSettings final : public Settings {
    public:
        explicit StoreSettings(Store& store) : store_(store) {}
        std::optional<bool> boolValue(std::string_view key) const override { return store_.boolValue(key); }
        std::optional<std::int64_t> integerValue(std::string_view key) const override {
            return store_.integerValue(key);
        }
        bool setBool(std::string_view key, bool value) override { return store_.setBool(key, value); }
        bool setInteger(std::string_view key, std::int64_t value) override {
            return store_.setInteger(key, value);
        }

    private:
        Store& store_;
    };

    // The frame-rate preference when the stream is neither from away nor of one application.
    static constexpr std::string_view favorsFrameRateKey = "favorsFrameRate";
    // The frame-rate preference for a stream of one application at home.
    static constexpr std::string_view appFavorsFrameRateKey = "appFavorsFrameRate";
    // The frame-rate preference for any stream from away.
    static constexpr std::string_view awayFavorsFrameRateKey = "awayFavorsFrameRate";
    // The preferred frame rate; automaticFPS leaves it to the screen.
    static constexpr std::string_view preferredFPSKey = "preferredFPS";
    static constexpr std::string_view usesStandardEncoderKey = "usesStandardEncoder";
    // Which upgrade of these keys the store has had.
    static constexpr std::string_view generationKey = "streamDefaultsGeneration";

    static constexpr std::int64_t automaticFPS = 0;
    static constexpr std::int64_t currentGeneration = 2;
    static constexpr double standardFactor = 2.0;

    // The frame rate to ask for. An automatic (or negative, hence meaningless) preference gives 120 on a
    // screen that refreshes at 120 Hz or more and 60 otherwise; any other preference stands.
    static std::int64_t resolvedFPS(std::int64_t preferred, std::int64_t screenMax);

    // The stored preference for a stream of this kind. Away decides first: from away the preference holds
    // unless false is stored, at home it holds only when true is stored.
    static bool favorsFrameRate(bool app, bool away, const Settings& store);
    // Stores the preference where favorsFrameRate reads it for the same flags; false when it could not.
    [[nodiscard]] static bool setFavorsFrameRate(bool favors, bool app, bool away, Settings& store);

    // Brings the store's keys up to the current generation, once: generation 0 gets an automatic frame
    // rate and the standard encoder, generations 0 and 1 lose a frame-rate preference that older clients
    // set for the user. True when the store is at the current generation afterwards; a failed write leaves
    // the generation as it was, so the next call tries again.
    [[nodiscard]] static bool migrate(Settings& store);

    // The factor to ask for. Unbounded, anything above the standard goes; otherwise a factor from 1.0 up
    // to below the standard goes only when reduced factors are allowed. A factor that is not finite gives
    // the standard.
    static double resolvedFactor(bool unbounded, bool allowsReduced, double factor);
    // Whether allowsReduced changes what resolvedFactor gives for these values.
    static bool factorIsReduced(bool unbounded, double factor);

private:
    static constexpr std::int64_t highRefreshRate = 120;
    static constexpr std::int64_t standardRate = 60;
    static constexpr double smallestReducedFactor = 1.0;

    static std::string_view favorsFrameRateKeyFor(bool app, bool away);
};

} // namespace velm
