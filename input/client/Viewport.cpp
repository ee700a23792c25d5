#include "input/client/Viewport.h"

#include <algorithm>
#include <cmath>

namespace velm {

namespace {

// NaN (a point with no usable place) maps to the middle rather than poisoning later arithmetic.
double clampViewUnit(double value) {
    return std::isnan(value) ? 0.5 : std::clamp(value, 0.0, 1.0);
}

// A picture longer than the view keeps the view covered; a shorter one stays centred.
double clampedCenter(double center, double viewLength, double shownLength) {
    if (viewLength < shownLength && shownLength > 0) {
        double half = viewLength / 2 / shownLength;
        return std::min(std::max(center, half), 1 - half);
    }
    return 0.5;
}

bool hasPositiveArea(Size size) {
    return size.width > 0 && size.height > 0;
}

} // namespace

Viewport::Viewport(Size contentSize, Size viewSize, double viewScale, ScalingMode mode)
    : contentSize_(contentSize), viewSize_(viewSize), viewScale_(viewScale), mode_(mode) {}

void Viewport::setContentSize(Size size) {
    contentSize_ = size;
    clampCenter();
}

void Viewport::setViewSize(Size size) {
    viewSize_ = size;
    clampCenter();
}

void Viewport::setViewScale(double scale) {
    viewScale_ = scale;
    clampCenter();
}

void Viewport::setMode(ScalingMode mode) {
    mode_ = mode;
    resetZoom();
}

void Viewport::setObscuredBottom(double points) {
    obscuredBottom_ = std::isfinite(points) ? points : 0;
    lift_ = std::min(lift_, std::max(obscuredBottom_, 0.0));
}

double Viewport::unguardedBaseScale() const {
    double wide = viewSize_.width / contentSize_.width;
    double tall = viewSize_.height / contentSize_.height;
    switch (mode_) {
    case ScalingMode::fit:
        return std::min(wide, tall);
    case ScalingMode::fill:
        return std::max(wide, tall);
    case ScalingMode::pixelPerfect:
        return 1 / (std::isfinite(viewScale_) ? std::max(viewScale_, 1.0) : 1.0);
    }
    return 1;
}

bool Viewport::isValid() const {
    if (!isUsable(contentSize_) || !isUsable(viewSize_))
        return false;
    if (!hasPositiveArea(contentSize_) || !hasPositiveArea(viewSize_))
        return false;
    double scale = unguardedBaseScale();
    return isUsable(scale) && scale > 0;
}

double Viewport::baseScale() const {
    return isValid() ? unguardedBaseScale() : 1;
}

Size Viewport::displayedSize() const {
    double scale = baseScale() * zoom_;
    return {contentSize_.width * scale, contentSize_.height * scale};
}

Rect Viewport::contentRect() const {
    Size shown = displayedSize();
    return {{viewSize_.width / 2 - shown.width * center_.x,
             viewSize_.height / 2 - shown.height * center_.y - lift_},
            shown};
}

bool Viewport::canPan() const {
    Size shown = displayedSize();
    return shown.width > viewSize_.width + 0.5 || shown.height > viewSize_.height + 0.5;
}

Point Viewport::normalizedPoint(Point viewPoint) const {
    Rect rect = contentRect();
    if (!(rect.width() > 0 && rect.height() > 0))
        return {0.5, 0.5};
    return {clampViewUnit((viewPoint.x - rect.minX()) / rect.width()),
            clampViewUnit((viewPoint.y - rect.minY()) / rect.height())};
}

Point Viewport::viewPoint(Point normalized) const {
    Rect rect = contentRect();
    return {rect.minX() + normalized.x * rect.width(), rect.minY() + normalized.y * rect.height()};
}

void Viewport::zoomBy(double factor, Point anchor) {
    if (!isValid() || !std::isfinite(factor) || !(factor > 0) || !isUsable(anchor))
        return;
    Point pinned = normalizedPoint(anchor);
    zoom_ = std::clamp(zoom_ * factor, smallestZoom, largestZoom);
    Size shown = displayedSize();
    // The anchor's picture point was read with the lift applied, so the new centre must account for
    // it too; otherwise every zoom would shift the picture by the lift.
    center_.x = pinned.x - (anchor.x - viewSize_.width / 2) / shown.width;
    center_.y = pinned.y - (anchor.y + lift_ - viewSize_.height / 2) / shown.height;
    clampCenter();
}

void Viewport::panBy(Size movement) {
    if (!isValid() || !isUsable(movement))
        return;
    Size shown = displayedSize();
    center_.x -= movement.width / shown.width;
    center_.y -= movement.height / shown.height;
    clampCenter();
}

void Viewport::resetZoom() {
    zoom_ = 1;
    center_ = {0.5, 0.5};
}

void Viewport::reveal(Point normalized, double margin) {
    if (!isValid() || !(obscuredBottom_ > 0)) {
        lift_ = 0;
        return;
    }
    if (!isUsable(normalized.y) || std::isnan(margin))
        return;
    Rect rect = contentRect();
    double y = rect.minY() + normalized.y * rect.height();
    double visible = viewSize_.height - obscuredBottom_;
    double limit = visible - std::min(visible / 3, margin);
    lift_ = std::min(obscuredBottom_, std::max(0.0, lift_ + y - limit));
}

void Viewport::keepVisible(Point normalized, double margin) {
    if (!isValid() || !canPan() || std::isnan(margin))
        return;
    Point p = viewPoint(normalized);
    if (!isUsable(p))
        return;
    double mx = std::min(viewSize_.width * 0.25, margin);
    double my = std::min(viewSize_.height * 0.25, margin);
    auto shift = [](double at, double length, double edge) {
        if (at > length - edge)
            return (length - edge) - at;
        if (at < edge)
            return edge - at;
        return 0.0;
    };
    Size movement{shift(p.x, viewSize_.width, mx), shift(p.y, viewSize_.height, my)};
    if (movement.width != 0 || movement.height != 0)
        panBy(movement);
}

Viewport::DrawingQuad Viewport::drawingQuad() const {
    if (!isValid())
        return {};
    Rect rect = contentRect();
    double halfWidth = viewSize_.width / 2;
    double halfHeight = viewSize_.height / 2;
    return {toFloat(rect.width() / viewSize_.width), toFloat(rect.height() / viewSize_.height),
            toFloat((rect.midX() - halfWidth) / halfWidth),
            toFloat(-(rect.midY() - halfHeight) / halfHeight)};
}

void Viewport::clampCenter() {
    Size shown = displayedSize();
    center_.x = clampedCenter(center_.x, viewSize_.width, shown.width);
    center_.y = clampedCenter(center_.y, viewSize_.height, shown.height);
}

} // namespace velm
