#include "platform/image/ThemeIcon.h"

#include "platform/log/Log.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace velm::ThemeIcon {
namespace {

const Log log("apps");
constexpr int maxSide = 1024;

// $XDG_DATA_HOME/icons, ~/.icons and $XDG_DATA_DIRS/icons, where freedesktop.org's icon themes live.
QStringList xdgIconFolders() {
    const QString home = qEnvironmentVariable("HOME");
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty()) {
        dataHome = home + QStringLiteral("/.local/share");
    }
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty()) {
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    }
    QStringList folders = {dataHome + QStringLiteral("/icons"), home + QStringLiteral("/.icons")};
    for (const QString& folder : dataDirs.split(u':', Qt::SkipEmptyParts)) {
        folders.append(folder + QStringLiteral("/icons"));
    }
    return folders;
}

QIcon lookUp(const std::string& icon) {
    const QString name = QString::fromStdString(icon);
    if (icon.starts_with('/')) {
        // An entry may name any file: reading a pipe or a device would hold this thread for good, and a
        // file far longer than any icon would be read whole into memory.
        std::error_code error;
        const bool plain = std::filesystem::is_regular_file(icon, error);
        const std::uintmax_t length = plain ? std::filesystem::file_size(icon, error) : 0;
        return plain && !error && length <= maxFileBytes ? QIcon(name) : QIcon();
    }
    // Without a desktop's platform theme (the offscreen platform) Qt knows neither a theme nor where
    // themes live: the XDG folders and the fallback theme every system has then serve.
    if (QIcon::themeName().isEmpty()) {
        QIcon::setThemeSearchPaths(xdgIconFolders());
        QIcon::setFallbackSearchPaths({QStringLiteral("/usr/share/pixmaps")});
        QIcon::setThemeName(QStringLiteral("hicolor"));
    }
    return QIcon::fromTheme(name);
}

// Drawn in pixels, one to one: left to itself Qt draws for the screens' pixel ratio, and a pixmap
// of twice the pixels would then be painted at half size in the picture's corner.
QImage themePicture(const std::string& icon, int side) {
    static std::mutex themeLock;
    const std::lock_guard guard(themeLock);
    const QIcon found = lookUp(icon);
    return found.isNull() ? QImage() : found.pixmap(QSize(side, side), 1.0).toImage();
}

} // namespace

std::optional<QImage> image(const std::string& icon, int side) {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr || icon.empty() ||
        side <= 0 || side > maxSide) {
        return std::nullopt;
    }
    QImage picture = themePicture(icon, side);
    if (picture.isNull()) {
        return std::nullopt;
    }
    return picture;
}

std::optional<Bytes> png(const std::string& icon, int side) {
    if (!QGuiApplication::instance()) {
        log.error("no icons without a QGuiApplication");
        return std::nullopt;
    }
    const auto found = image(icon, side);
    if (!found) {
        return std::nullopt;
    }
    // Themes without this size give a smaller picture: it is scaled up and centred.
    QImage canvas(side, side, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QImage fitted = found->size() == QSize(side, side)
                                  ? *found
                                  : found->scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        painter.drawImage((side - fitted.width()) / 2, (side - fitted.height()) / 2, fitted);
    }
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    if (!canvas.save(&buffer, "PNG")) {
        return std::nullopt;
    }
    return Bytes(encoded.begin(), encoded.end());
}

} // namespace velm::ThemeIcon
