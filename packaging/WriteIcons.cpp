// Draws the program's icon into a hicolor icon theme folder at build time, as the tray shows it, so
// the launcher and the panel show the same picture and no drawn file is kept in the sources.
//
//   velm-host-icons FOLDER SIDE...   writes FOLDER/hicolor/SIDExSIDE/apps/velm-host.png for each SIDE

#include "Velm_Host/ui/MenuBarIcon.h"

#include <QDir>
#include <QImage>
#include <QString>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FOLDER SIDE...\n", argv[0]);
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const long side = std::strtol(argv[i], nullptr, 10);
        const QString folder = QString("%1/hicolor/%2x%2/apps").arg(root).arg(side);
        const QString file = folder + "/velm-host.png";
        if (side <= 0 || side > 1024 || !QDir().mkpath(folder) ||
            !velm::MenuBarIcon::image(false, static_cast<int>(side)).save(file, "PNG")) {
            std::fprintf(stderr, "velm-host-icons: cannot write %s\n", file.toLocal8Bit().constData());
            return 1;
        }
    }
    return 0;
}
