#include "Velm_Host/ui/PermissionRow.h"

#include "Velm_Host/ui/PlainLabel.h"
#include "Velm_Host/ui/RowIcon.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace velm {
namespace {

constexpr int iconPoints = 16;

} // namespace

PermissionRow::PermissionRow(const std::string& title, const std::string& detail, bool granted,
                             const std::string& buttonTitle, std::function<void()> action, QWidget* parent)
    : QWidget(parent) {
    auto* icon = new QLabel(this);
    icon->setPixmap(rowIconPixmap(granted ? RowIcon::granted : RowIcon::attention, iconPoints,
                                  devicePixelRatioF(), palette()));
    icon->setFixedWidth(iconPoints);

    auto* titleLabel = new PlainLabel(title, this);
    auto* detailLabel = new PlainLabel(detail, this);
    detailLabel->makeCaption();
    detailLabel->setWordWrap(true);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(titleLabel);
    texts->addWidget(detailLabel);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(icon, 0, Qt::AlignVCenter);
    layout->addLayout(texts, 1);
    if (!granted && action) {
        button_ = new QPushButton(actionTitle(buttonTitle), this);
        QObject::connect(button_, &QPushButton::clicked, this, [action = std::move(action)] { action(); });
        layout->addWidget(button_, 0, Qt::AlignVCenter);
    }
}

} // namespace velm
