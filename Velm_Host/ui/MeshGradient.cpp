#include "Velm_Host/ui/MeshGradient.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace velm {
namespace {

constexpr int maxSide = 4096;

// The named colours of the screen's field.
constexpr MeshGradient::Colour indigo{0.345F, 0.337F, 0.839F};
constexpr MeshGradient::Colour blue{0.0F, 0.478F, 1.0F};
constexpr MeshGradient::Colour cyan{0.196F, 0.678F, 0.902F};
constexpr MeshGradient::Colour purple{0.686F, 0.322F, 0.871F};
constexpr MeshGradient::Colour teal{0.188F, 0.690F, 0.780F};
constexpr MeshGradient::Colour night{0.1F, 0.05F, 0.3F};

using Colour = MeshGradient::Colour;

Colour operator+(Colour a, Colour b) {
    return {a.red + b.red, a.green + b.green, a.blue + b.blue};
}
Colour operator-(Colour a, Colour b) {
    return {a.red - b.red, a.green - b.green, a.blue - b.blue};
}
Colour operator*(float k, Colour a) {
    return {k * a.red, k * a.green, k * a.blue};
}

// A smooth curve through three colours at t = 0, 1, 2 (cubic Hermite, tangents from the
// neighbours), so the blend has no crease where two patches meet.
Colour throughThree(const std::array<Colour, 3>& colours, float t) {
    const std::array<Colour, 3> tangents{colours[1] - colours[0], 0.5F * (colours[2] - colours[0]),
                                         colours[2] - colours[1]};
    const int segment = t < 1 ? 0 : 1;
    const float f = t - static_cast<float>(segment);
    const float f2 = f * f;
    const float f3 = f2 * f;
    const auto i = static_cast<std::size_t>(segment);
    return (2 * f3 - 3 * f2 + 1) * colours[i] + (f3 - 2 * f2 + f) * tangents[i] +
           (-2 * f3 + 3 * f2) * colours[i + 1] + (f3 - f2) * tangents[i + 1];
}

struct Vertex {
    double x = 0;
    double y = 0;
    Colour colour;
};

std::uint8_t channel(float value) {
    return static_cast<std::uint8_t>(std::lround(std::clamp(value, 0.0F, 1.0F) * 255.0F));
}

double edge(const Vertex& a, const Vertex& b, double x, double y) {
    return (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
}

// Shades the pixels whose centres lie in the triangle, blending the corners' colours.
void fillTriangle(QImage& image, const Vertex& a, const Vertex& b, const Vertex& c) {
    const double area = edge(a, b, c.x, c.y);
    if (std::abs(area) < 1e-12) {
        return;
    }
    const int left = std::max(0, static_cast<int>(std::floor(std::min({a.x, b.x, c.x}))));
    const int right = std::min(image.width() - 1, static_cast<int>(std::ceil(std::max({a.x, b.x, c.x}))));
    const int top = std::max(0, static_cast<int>(std::floor(std::min({a.y, b.y, c.y}))));
    const int bottom = std::min(image.height() - 1, static_cast<int>(std::ceil(std::max({a.y, b.y, c.y}))));
    constexpr double slack = -1e-7;
    for (int y = top; y <= bottom; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = left; x <= right; ++x) {
            const double px = x + 0.5;
            const double py = y + 0.5;
            const double wa = edge(b, c, px, py) / area;
            const double wb = edge(c, a, px, py) / area;
            const double wc = 1 - wa - wb;
            if (wa < slack || wb < slack || wc < slack) {
                continue;
            }
            const Colour colour = static_cast<float>(wa) * a.colour + static_cast<float>(wb) * b.colour +
                                  static_cast<float>(wc) * c.colour;
            row[x] = qRgb(channel(colour.red), channel(colour.green), channel(colour.blue));
        }
    }
}

} // namespace

const MeshGradient& MeshGradient::screen() {
    static const MeshGradient gradient(Points{{
        {{0, 0}, indigo},
        {{0.5, 0}, blue},
        {{1, 0}, cyan},
        {{0, 0.5}, purple},
        {{0.6, 0.4}, blue},
        {{1, 0.5}, teal},
        {{0, 1}, night},
        {{0.5, 1}, indigo},
        {{1, 1}, blue},
    }});
    return gradient;
}

QImage MeshGradient::rendered(QSize size) const {
    if (size.width() < 1 || size.height() < 1 || size.width() > maxSide || size.height() > maxSide) {
        return {};
    }
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const auto point = [&](int column, int row) -> const Point& {
        return points_[static_cast<std::size_t>(row * 3 + column)];
    };
    // The grid is walked in parameter space (0...2 each way); positions are bilinear within a
    // patch, colours follow the smooth curves across all three rows and columns.
    const auto vertexAt = [&](float u, float v) {
        const int column = std::min(static_cast<int>(u), 1);
        const int row = std::min(static_cast<int>(v), 1);
        const double fu = u - static_cast<float>(column);
        const double fv = v - static_cast<float>(row);
        const QPointF top = (1 - fu) * point(column, row).position + fu * point(column + 1, row).position;
        const QPointF bottom =
            (1 - fu) * point(column, row + 1).position + fu * point(column + 1, row + 1).position;
        const QPointF at = (1 - fv) * top + fv * bottom;
        std::array<Colour, 3> across;
        for (int r = 0; r < 3; ++r) {
            across[static_cast<std::size_t>(r)] =
                throughThree({point(0, r).colour, point(1, r).colour, point(2, r).colour}, u);
        }
        return Vertex{at.x() * size.width(), at.y() * size.height(), throughThree(across, v)};
    };
    // An even count, so that cell edges fall on the patch borders.
    const int cells = 2 * std::clamp(std::max(size.width(), size.height()) / 16, 1, 32);
    // Neighbouring cells share their corner vertices exactly, so no pixel falls between them.
    const auto side = static_cast<std::size_t>(cells + 1);
    std::vector<Vertex> vertices;
    vertices.reserve(side * side);
    for (int j = 0; j <= cells; ++j) {
        for (int i = 0; i <= cells; ++i) {
            vertices.push_back(vertexAt(2.0F * static_cast<float>(i) / static_cast<float>(cells),
                                        2.0F * static_cast<float>(j) / static_cast<float>(cells)));
        }
    }
    for (std::size_t j = 0; j + 1 < side; ++j) {
        for (std::size_t i = 0; i + 1 < side; ++i) {
            const Vertex& topLeft = vertices[j * side + i];
            const Vertex& topRight = vertices[j * side + i + 1];
            const Vertex& bottomLeft = vertices[(j + 1) * side + i];
            const Vertex& bottomRight = vertices[(j + 1) * side + i + 1];
            fillTriangle(image, topLeft, topRight, bottomRight);
            fillTriangle(image, topLeft, bottomRight, bottomLeft);
        }
    }
    return image;
}

} // namespace velm
