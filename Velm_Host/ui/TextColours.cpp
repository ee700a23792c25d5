#include "Velm_Host/ui/TextColours.h"

#include <algorithm>
#include <cmath>

namespace velm {
namespace {

// How much of the text colour each style keeps before the contrast is checked.
constexpr double secondaryStrength = 0.62;
constexpr double tertiaryStrength = 0.5;
constexpr double strengthStep = 0.01;
const QColor warningOrange(255, 149, 0);
const QColor destructiveRed(215, 0, 21);
// Aimed a little above the least, so that rounding to whole 8-bit channels never takes a colour under it.
constexpr double aimedContrast = TextColours::leastContrast + 0.1;

double linear(double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& colour) {
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

QColor mixed(const QColor& text, const QColor& background, double strength) {
    const auto channel = [strength](float from, float to) {
        return static_cast<float>(to + (from - to) * strength);
    };
    return QColor::fromRgbF(channel(text.redF(), background.redF()),
                            channel(text.greenF(), background.greenF()),
                            channel(text.blueF(), background.blueF()));
}

// Quiet text stands on the form and on the sections' cards: it must read on both.
const QColor& nearerBackground(const QPalette& palette) {
    const QColor& text = palette.color(QPalette::WindowText);
    const QColor& card = palette.color(QPalette::Base);
    const QColor& form = palette.color(QPalette::Window);
    return TextColours::contrast(text, card) < TextColours::contrast(text, form) ? card : form;
}

// `colour`, taken toward the text colour until it reads on `background`.
QColor readableOn(const QColor& colour, const QColor& text, const QColor& background) {
    QColor shown = colour;
    for (double strength = 0; strength < 1 && TextColours::contrast(shown, background) < aimedContrast;) {
        strength = std::min(1.0, strength + strengthStep);
        shown = mixed(text, colour, strength);
    }
    return shown;
}

QColor readable(const QColor& colour, const QPalette& palette) {
    return readableOn(colour, palette.color(QPalette::WindowText), nearerBackground(palette));
}

QColor quieter(const QPalette& palette, double strength) {
    return readable(mixed(palette.color(QPalette::WindowText), nearerBackground(palette), strength), palette);
}

} // namespace

QColor TextColours::secondary(const QPalette& palette) {
    return quieter(palette, secondaryStrength);
}

QColor TextColours::tertiary(const QPalette& palette) {
    return quieter(palette, tertiaryStrength);
}

QColor TextColours::warning(const QPalette& palette) {
    return readable(warningOrange, palette);
}

QColor TextColours::destructive(const QPalette& palette) {
    return readableOn(destructiveRed, palette.color(QPalette::ButtonText), palette.color(QPalette::Button));
}

double TextColours::contrast(const QColor& one, const QColor& other) {
    const double first = luminance(one);
    const double second = luminance(other);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

} // namespace velm
