#include "Velm_Host/ui/DevicePortrait.h"

#include "Velm_Host/ui/PortraitPainter.h"

#include <QAccessibleWidget>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <mutex>

namespace velm {
namespace {

// Moves every pixel towards its own luminance; premultiplied colours keep their alpha.
void desaturate(QImage& image, double saturation) {
    const double keep = std::clamp(saturation, 0.0, 1.0);
    for (int y = 0; y < image.height(); ++y) {
        auto* pixel = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x, ++pixel) {
            const double red = qRed(*pixel);
            const double green = qGreen(*pixel);
            const double blue = qBlue(*pixel);
            const double luminance = 0.2126 * red + 0.7152 * green + 0.0722 * blue;
            const auto mixed = [&](double value) {
                return static_cast<int>(
                    std::lround(std::clamp(luminance + keep * (value - luminance), 0.0, 255.0)));
            };
            *pixel = qRgba(mixed(red), mixed(green), mixed(blue), qAlpha(*pixel));
        }
    }
}

// The picture is decoration: the card's texts say everything it shows, so screen readers pass over it.
class DecorationAccessible : public QAccessibleWidget {
public:
    explicit DecorationAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Graphic) {}

    QAccessible::State state() const override {
        QAccessible::State hidden = QAccessibleWidget::state();
        hidden.invisible = true;
        return hidden;
    }
};

QAccessibleInterface* decorationFactory(const QString&, QObject* object) {
    auto* portrait = dynamic_cast<DevicePortrait*>(object);
    return portrait != nullptr ? new DecorationAccessible(portrait) : nullptr;
}

} // namespace

DevicePortrait::DevicePortrait(PortraitSources sources, std::shared_ptr<SnapshotWatch> snapshots,
                               std::shared_ptr<Queue> loadQueue, QWidget* parent)
    : QWidget(parent), sources_(std::move(sources)), snapshots_(std::move(snapshots)),
      loadQueue_(std::move(loadQueue)), handoff_(std::make_shared<GuiHandoff>(this)) {
    static std::once_flag accessibility;
    std::call_once(accessibility, [] { QAccessible::installFactory(decorationFactory); });
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    snapshots_->subscribe(handoff_, [this] { snapshotsChanged(); });
    load();
}

DevicePortrait::~DevicePortrait() {
    handoff_->close();
}

void DevicePortrait::setSaturation(double saturation) {
    if (saturation != saturation_) {
        saturation_ = saturation;
        update();
    }
}

void DevicePortrait::load() {
    const std::uint64_t generation = ++generation_;
    loadingRevision_ = snapshots_->revision(sources_.id);
    loadQueue_->post([this, sources = sources_, store = snapshots_->store(), handoff = handoff_, generation,
                      revision = loadingRevision_] {
        auto look = std::make_shared<Look>(Look::load(sources, *store));
        // `this` is touched only through the handoff, which runs nothing once the portrait is gone.
        handoff->post(
            [this, generation, revision, look] { present(generation, revision, std::move(*look)); });
    });
}

void DevicePortrait::snapshotsChanged() {
    if (snapshots_->revision(sources_.id) != loadingRevision_) {
        load();
    }
}

void DevicePortrait::present(std::uint64_t generation, std::optional<std::uint64_t> revision, Look look) {
    if (generation != generation_) {
        return;
    }
    look_ = std::move(look);
    hasLoaded_ = true;
    shownRevision_ = revision;
    update();
}

void DevicePortrait::paintEvent(QPaintEvent*) {
    const qreal ratio = devicePixelRatioF();
    QImage canvas((QSizeF(size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    if (canvas.isNull()) {
        return;
    }
    canvas.setDevicePixelRatio(ratio);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        PortraitPainter{sources_.shape, sources_.knownScreenAspect}.paint(painter, QRectF(contentsRect()),
                                                                          look_);
    }
    if (saturation_ < 1) {
        desaturate(canvas, saturation_);
    }
    QPainter(this).drawImage(QPointF(0, 0), canvas);
}

} // namespace velm
