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
#include <algorithm>
#include <cmath>

namespace velm {
namespace {

constexpr int rowBottomPadding = 10;

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
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll_->viewport()->installEventFilter(this);
    connect(scroll_->horizontalScrollBar(), &QScrollBar::sliderReleased, this, [this] { snapToCard(); });

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
    if (watched == scroll_->viewport() && event->type() == QEvent::Resize) {
        fitCards();
    }
    return QWidget::eventFilter(watched, event);
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
    scroll_->setFixedHeight(height + rowBottomPadding + scroll_->horizontalScrollBar()->sizeHint().height());
}

void DeviceCards::snapToCard() {
    QScrollBar* bar = scroll_->horizontalScrollBar();
    const int pitch = std::max(1, bar->singleStep());
    const int card = static_cast<int>(std::lround(static_cast<double>(bar->value()) / pitch));
    bar->setValue(std::min(card * pitch, bar->maximum()));
}

} // namespace velm
