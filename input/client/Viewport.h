#pragma once

#include "input/Geometry.h"
#include "input/client/ScalingMode.h"

namespace velm {

// Where the remote screen's picture lies in the client's view: how it is scaled, how far the user
// zoomed, which picture point sits at the view's centre, and how far the picture is lifted to keep a
// point visible above a covered strip at the bottom (an on-screen keyboard). Converts between view
// points and normalised remote coordinates (0...1 across the remote screen, origin top left).
class Viewport {
public:
    // The picture's scale and offset in normalised device coordinates (y grows upwards).
    struct DrawingQuad {
        float scaleX = 1;
        float scaleY = 1;
        float offsetX = 0;
        float offsetY = 0;

        bool operator==(const DrawingQuad&) const = default;
    };

    static constexpr double smallestZoom = 1;
    static constexpr double largestZoom = 8;

    // contentSize in pixels, viewSize in points, viewScale in pixels per point.
    Viewport(Size contentSize, Size viewSize, double viewScale, ScalingMode mode);

    Size contentSize() const { return contentSize_; }
    Size viewSize() const { return viewSize_; }
    double viewScale() const { return viewScale_; }
    ScalingMode mode() const { return mode_; }
    double zoom() const { return zoom_; }
    Point center() const { return center_; }
    double obscuredBottom() const { return obscuredBottom_; }
    double lift() const { return lift_; }

    // New sizes keep the centre where the picture still covers the view (a rotated view, a remote
    // screen that changed resolution), as a pan would.
    void setContentSize(Size size);
    void setViewSize(Size size);
    void setViewScale(double scale);
    // A new mode starts unzoomed and centred.
    void setMode(ScalingMode mode);
    // Lowers the lift so that it never exceeds the covered height.
    void setObscuredBottom(double points);

    // Both sizes are positive and the picture's scale is a usable number.
    bool isValid() const;
    // Points per content pixel before zoom; 1 when not valid.
    double baseScale() const;
    Size displayedSize() const;
    Rect contentRect() const;
    bool canPan() const;

    // Clamped into 0...1; (0.5, 0.5) when the picture has no area.
    Point normalizedPoint(Point viewPoint) const;
    // Not clamped.
    Point viewPoint(Point normalized) const;

    // Multiplies the zoom by a finite positive factor, keeping the picture point under the anchor
    // (view points) in place.
    void zoomBy(double factor, Point anchor);
    // Moves the picture with the fingers by a movement in view points.
    void panBy(Size movement);
    void resetZoom();

    // Lifts the picture so that the normalised point stays a margin above the covered strip.
    void reveal(Point normalized, double margin);
    // Pans a zoomed picture so that the normalised point stays a margin inside the view's edges.
    void keepVisible(Point normalized, double margin);

    DrawingQuad drawingQuad() const;

    bool operator==(const Viewport&) const = default;

private:
    double unguardedBaseScale() const;
    void clampCenter();

    Size contentSize_;
    Size viewSize_;
    double viewScale_;
    ScalingMode mode_;
    double zoom_ = 1;
    Point center_{0.5, 0.5};
    double obscuredBottom_ = 0;
    double lift_ = 0;
};

} // namespace velm
