#pragma once

#include <stdexcept>
#include <string>

namespace velm {

// Why a JSON value could not be read or written. Decoding stops at the first fault and names
// where it sits ("hello._0.videoPort"); nothing is repaired or defaulted.
class JsonError : public std::runtime_error {
public:
    enum class Kind {
        dataCorrupted, // not JSON, a number outside its type, bad Base64, a bad UUID, an unknown name
        keyNotFound,   // a required key is missing
        valueNotFound, // a required value is null
        typeMismatch,  // a value of the wrong JSON type, or not exactly one case key
        invalidValue,  // encoding: a value JSON cannot carry (NaN, infinity)
    };

    JsonError(Kind kind, std::string path, std::string description);

    Kind kind() const noexcept { return kind_; }
    // Dotted path to the faulty value; empty for the top level.
    const std::string& path() const noexcept { return path_; }
    const std::string& description() const noexcept { return description_; }

private:
    Kind kind_;
    std::string path_;
    std::string description_;
};

} // namespace velm
