#include "Velm_Host/ui/DeviceCards.h"

#include "Velm_Host/ui/CardStyle.h"
#include "Velm_Host/ui/DeviceCard.h"
#include "Velm_Host/ui/DeviceIcons.h"
#include "Velm_Host/ui/DevicePortrait.h"
#include "Velm_Host/ui/PlaceholderImage.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace velm {
namespace {

constexpr int rowBottomPadding = 10;
// What one notch of a mouse wheel reports; it moves the cards by one card.
constexpr int wheelNotch = QWheelEvent::DefaultDeltasPerStep;

DeviceCards::Options completed(DeviceCards::Options options) {
    if (!options.snapshots) {
        options.snapshots = SnapshotWatch::shared();
    }
    if (!options.pictureQueue) {
        options.pictureQueue = Queue::global();
    }
    if (!options.devicePicture) {
        options.devicePicture = [](const std::string& model) { return deviceIconImage(model); };
    }
    if (!options.clock) {
        options.clock = &Date::now;
    }
    return options;
}

} // namespace

DeviceCards::DeviceCards(Options options, QWidget* parent)
    : QWidget(parent), options_(completed(std::move(options))),
      empty_(new QLabel("No device paired yet. Pair one to connect from it.", this)),
      scroll_(new QScrollArea(this)), row_(new QWidget), rowLayout_(new QHBoxLayout(row_)),
      removeAll_(new QPushButton("Remove All…", this)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    empty_->setObjectName("empty");
    CardStyle::apply(*empty_, CardStyle::Text::secondary);
    empty_->setWordWrap(true);

    rowLayout_->setContentsMargins(0, 0, 0, rowBottomPadding);
    rowLayout_->setSpacing(options_.cardSpacing);
    rowLayout_->addStretch();
    scroll_->setWidget(row_);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    // The cards stand on the section's own card, not on a band of the window's colour.
    scroll_->viewport()->setAutoFillBackground(false);
    row_->setAutoFillBackground(false);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll_->viewport()->installEventFilter(this);
    scroll_->horizontalScrollBar()->installEventFilter(this);
    connect(scroll_->horizontalScrollBar(), &QScrollBar::sliderReleased, this, [this] { snapToCard(); });
    settle_.setSingleShot(true);
    settle_.setInterval(options_.scrollSettle);
    connect(&settle_, &QTimer::timeout, this, [this] { snapToCard(); });

    removeAll_->setObjectName("removeAll");
    CardStyle::makeDestructive(*removeAll_);
    connect(removeAll_, &QPushButton::clicked, this, [this] {
        if (onRemoveAll_) {
            onRemoveAll_();
        }
    });

    column->addWidget(empty_);
    column->addWidget(scroll_);
    column->addWidget(removeAll_, 0, Qt::AlignLeft);
    column->addStretch();

    refresh_.setSingleShot(true);
    connect(&refresh_, &QTimer::timeout, this, [this] { refreshTexts(); });
    setState({});
}

DeviceCards::~DeviceCards() = default;

void DeviceCards::setOnDisconnect(std::function<void(const std::string&)> handler) {
    onDisconnect_ = std::move(handler);
}

void DeviceCards::setOnSetPolicy(
    std::function<void(const PairedDevice&, std::optional<double>, bool)> handler) {
    onSetPolicy_ = std::move(handler);
}

void DeviceCards::setOnRemove(std::function<void(const PairedDevice&)> handler) {
    onRemove_ = std::move(handler);
}

void DeviceCards::setOnRemoveAll(std::function<void()> handler) {
    onRemoveAll_ = std::move(handler);
}

void DeviceCards::setState(DeviceCardsState state) {
    state_ = std::move(state);
    removeCardsNotListed();
    for (const PairedDevice& device : state_.devices) {
        auto found = cards_.find(device.id);
        if (found == cards_.end()) {
            found = cards_.emplace(device.id, makeCard(device.id)).first;
        }
        givePortrait(found->second, device);
    }
    placeCards();
    refreshTexts();
    const bool hasDevices = !state_.devices.empty();
    empty_->setVisible(!hasDevices);
    scroll_->setVisible(hasDevices);
    removeAll_->setVisible(state_.devices.size() >= 2);
    fitCards();
}

DeviceCard* DeviceCards::card(std::string_view deviceID) const {
    const auto found = cards_.find(deviceID);
    return found == cards_.end() ? nullptr : found->second.widget;
}

bool DeviceCards::eventFilter(QObject* watched, QEvent* event) {
    // A card's height is known for sure only once its own layout has settled (its new texts, its
    // portrait, the cards' width).
    const bool aCard = watched->parent() == row_;
    if ((watched == scroll_->viewport() && event->type() == QEvent::Resize) ||
        (aCard && event->type() == QEvent::LayoutRequest)) {
        fitCards();
    }
    if ((watched == scroll_->viewport() || watched == scroll_->horizontalScrollBar()) &&
        event->type() == QEvent::Wheel && scrollCards(static_cast<const QWheelEvent&>(*event))) {
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// A wheel's notch moves the cards by one card. A touchpad moves them with the fingers, and once they
// let go (and the glide after them ends) the cards settle on the nearest whole card, as they do after
// a drag of the scroll bar. Scrolling up and down is the form's, unless Shift turns it sideways.
bool DeviceCards::scrollCards(const QWheelEvent& wheel) {
    QScrollBar* bar = scroll_->horizontalScrollBar();
    QPoint angle = wheel.angleDelta();
    QPoint pixels = wheel.pixelDelta();
    if ((wheel.modifiers() & Qt::ShiftModifier) && angle.x() == 0 && pixels.x() == 0) {
        angle = angle.transposed();
        pixels = pixels.transposed();
    }
    const bool sideways =
        std::abs(angle.x()) > std::abs(angle.y()) || std::abs(pixels.x()) > std::abs(pixels.y());
    if (!sideways || bar->maximum() == 0) {
        return false;
    }
    const int pitch = std::max(1, bar->singleStep());
    int move = 0;
    if (pixels.x() != 0) {
        move = pixels.x();
    } else {
        const int turned = angle.x() * pitch + wheelRemainder_;
        move = turned / wheelNotch;
        wheelRemainder_ = turned % wheelNotch;
    }
    bar->setValue(bar->value() - move);
    const bool wholeNotches =
        pixels.x() == 0 && angle.x() % wheelNotch == 0 && wheel.phase() == Qt::NoScrollPhase;
    if (wholeNotches) {
        settle_.stop();
        snapToCard();
    } else {
        settle_.start();
    }
    return true;
}

const PairedDevice* DeviceCards::device(std::string_view id) const {
    const auto found = std::find_if(state_.devices.begin(), state_.devices.end(),
                                    [&](const PairedDevice& device) { return device.id == id; });
    return found == state_.devices.end() ? nullptr : &*found;
}

DeviceCards::Card DeviceCards::makeCard(const std::string& id) {
    // A choice goes out with the device as it stands when the button is pressed, and as a copy:
    // whoever handles it may give the cards a new state at once.
    DeviceCard::Actions actions{
        [this, id] {
            if (onDisconnect_) {
                onDisconnect_(id);
            }
        },
        [this, id](std::optional<double> idleTimeout, bool curtain) {
            if (const PairedDevice* listed = device(id); listed != nullptr && onSetPolicy_) {
                const PairedDevice chosen = *listed;
                onSetPolicy_(chosen, idleTimeout, curtain);
            }
        },
        [this, id] {
            if (const PairedDevice* listed = device(id); listed != nullptr && onRemove_) {
                const PairedDevice chosen = *listed;
                onRemove_(chosen);
            }
        },
    };
    auto* widget = new DeviceCard(std::move(actions), row_);
    widget->setObjectName(QString::fromStdString(id));
    widget->installEventFilter(this);
    return {widget, {}};
}

void DeviceCards::removeCardsNotListed() {
    for (auto entry = cards_.begin(); entry != cards_.end();) {
        if (device(entry->first) != nullptr) {
            ++entry;
            continue;
        }
        // Later: the card's own button may be what removed its device.
        rowLayout_->removeWidget(entry->second.widget);
        entry->second.widget->hide();
        entry->second.widget->deleteLater();
        entry = cards_.erase(entry);
    }
}

void DeviceCards::givePortrait(Card& card, const PairedDevice& device) {
    const int index = state_.placeholderIndex(device.id);
    PictureKey key{device.model, device.screenAspect, index};
    if (card.widget->portrait() != nullptr && card.picture == key) {
        return;
    }
    card.picture = std::move(key);
    card.widget->setPortrait(
        new DevicePortrait(portraitSources(device, index), options_.snapshots, options_.pictureQueue));
}

PortraitSources DeviceCards::portraitSources(const PairedDevice& device, int placeholderIndex) const {
    PortraitSources sources;
    sources.id = device.id;
    sources.shape =
        device.model ? deviceShape(device.model->identifier, device.model->name) : DeviceShape::iPad;
    sources.knownScreenAspect = device.screenAspect;
    sources.showsSnapshot = false;
    if (device.model) {
        sources.picture = [picture = options_.devicePicture, model = device.model->identifier] {
            return picture(model);
        };
    }
    sources.screenFill = [placeholderIndex](QSizeF pixels) {
        return placeholderDeviceImage(placeholderIndex, pixels);
    };
    return sources;
}

void DeviceCards::placeCards() {
    int position = 0;
    for (const PairedDevice* listed : state_.ordered()) {
        DeviceCard* widget = cards_.at(listed->id).widget;
        rowLayout_->removeWidget(widget);
        rowLayout_->insertWidget(position++, widget, 0, Qt::AlignTop);
    }
}

void DeviceCards::refreshTexts() {
    const Date now = options_.clock();
    for (const PairedDevice& listed : state_.devices) {
        cards_.at(listed.id).widget->present(listed, DeviceCardLines::of(listed, state_, now, options_.dates),
                                             state_.curtainCovers);
    }
    if (state_.devices.empty()) {
        refresh_.stop();
    } else {
        refresh_.start(state_.refreshDelay(now, options_.tick));
    }
}

void DeviceCards::fitCards() {
    const int spacing = options_.cardSpacing;
    const int width = std::max(1, (scroll_->viewport()->width() - spacing) / 2);
    int height = 0;
    for (auto& [id, card] : cards_) {
        card.widget->setFixedWidth(width);
        // Wrapped lines make a narrow card taller.
        height = std::max(height, card.widget->hasHeightForWidth() ? card.widget->heightForWidth(width)
                                                                   : card.widget->sizeHint().height());
    }
    scroll_->horizontalScrollBar()->setSingleStep(width + spacing);
    // Two cards fill the width; only a third brings the scroll bar, and only then is room kept for it.
    const int bar = cards_.size() > 2 ? scroll_->horizontalScrollBar()->sizeHint().height() : 0;
    scroll_->setFixedHeight(height + rowBottomPadding + bar);
}

void DeviceCards::snapToCard() {
    QScrollBar* bar = scroll_->horizontalScrollBar();
    wheelRemainder_ = 0;
    if (bar->isSliderDown()) {
        return;
    }
    const int pitch = std::max(1, bar->singleStep());
    const int card = static_cast<int>(std::lround(static_cast<double>(bar->value()) / pitch));
    bar->setValue(std::min(card * pitch, bar->maximum()));
}

} // namespace velm
