#pragma once

#include "Velm_Host/core/PairedDevice.h"
#include "Velm_Host/ui/DateTexts.h"
#include "Velm_Host/ui/DeviceCardsState.h"
#include "Velm_Host/ui/PortraitSources.h"
#include "Velm_Host/ui/SnapshotWatch.h"
#include "platform/core/Date.h"
#include "platform/dispatch/Queue.h"

#include <QTimer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

class QLabel;
class QPushButton;
class QScrollArea;
class QHBoxLayout;
class QWheelEvent;

namespace velm {

class DeviceCard;

// The paired devices as cards side by side, two to a visible width, the live device's first;
// with two or more devices also "Remove All…". The cards show what they are given
// (`setState`) and report the user's choices; whoever owns the model carries them out and
// gives the new state back. The texts follow the clock by themselves (relative dates, away access
// lapsing). A card stays with its device while it is listed, so its picture is not loaded again.
class DeviceCards : public QWidget {
public:
    struct Options {
        int cardSpacing = 24;
        // Null: the watch of the host's snapshot store.
        std::shared_ptr<SnapshotWatch> snapshots;
        // Where pictures are loaded; null: the background queue.
        std::shared_ptr<Queue> pictureQueue;
        // The picture of a device model (its identifier); null: the icon theme's.
        std::function<std::optional<QImage>(const std::string& model)> devicePicture;
        // Null: the wall clock.
        std::function<Date()> clock;
        // The longest the texts stand before they are worked out again.
        std::chrono::milliseconds tick{30'000};
        // How long the cards wait after a touchpad's last scroll before they settle on a whole card.
        std::chrono::milliseconds scrollSettle{150};
        DateTexts dates;
    };

    explicit DeviceCards(Options options, QWidget* parent = nullptr);
    ~DeviceCards() override;

    DeviceCards(const DeviceCards&) = delete;
    DeviceCards& operator=(const DeviceCards&) = delete;

    // With the device whose live session should end (only the live device's card offers it).
    void setOnDisconnect(std::function<void(const std::string& deviceID)> handler);
    void setOnSetPolicy(
        std::function<void(const PairedDevice& device, std::optional<double> idleTimeout, bool curtain)>
            handler);
    void setOnRemove(std::function<void(const PairedDevice& device)> handler);
    // The user asks to remove every device; the owner confirms first.
    void setOnRemoveAll(std::function<void()> handler);

    void setState(DeviceCardsState state);

    // The card of the device, while it is listed.
    DeviceCard* card(std::string_view deviceID) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What a card's portrait is made from; a change makes a new portrait.
    struct PictureKey {
        std::optional<DeviceModel> model;
        std::optional<double> screenAspect;
        int placeholderIndex = 0;

        friend bool operator==(const PictureKey&, const PictureKey&) = default;
    };
    struct Card {
        DeviceCard* widget;
        PictureKey picture;
    };

    const PairedDevice* device(std::string_view id) const;
    Card makeCard(const std::string& id);
    void removeCardsNotListed();
    void placeCards();
    void refreshTexts();
    void fitCards();
    bool scrollCards(const QWheelEvent& wheel);
    void snapToCard();
    void givePortrait(Card& card, const PairedDevice& device);
    PortraitSources portraitSources(const PairedDevice& device, int placeholderIndex) const;

    Options options_;
    DeviceCardsState state_;
    std::function<void(const std::string&)> onDisconnect_;
    std::function<void(const PairedDevice&, std::optional<double>, bool)> onSetPolicy_;
    std::function<void(const PairedDevice&)> onRemove_;
    std::function<void()> onRemoveAll_;

    QLabel* empty_;
    QScrollArea* scroll_;
    QWidget* row_;
    QHBoxLayout* rowLayout_;
    QPushButton* removeAll_;
    QTimer refresh_;
    QTimer settle_;
    // What a wheel turned by less than a card, kept for its next turn.
    int wheelRemainder_ = 0;
    std::map<std::string, Card, std::less<>> cards_;
};

} // namespace velm
