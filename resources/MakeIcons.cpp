// Writes the application icon into resources/icons/hicolor/<n>x<n>/apps/sentorix.png for the
// sizes desktops look for, from the same painter the program uses:
//   cmake --build build/release --target sentorix-make-icons
//   build/release/monitor/sentorix-make-icons resources/icons
#include "monitor/Artwork.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <icons folder>\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QStringLiteral("%1/hicolor/%2x%2/apps").arg(root).arg(size);
        QDir().mkpath(folder);
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        sentorix::ui::paintAppIcon(painter, QRectF(0, 0, size, size));
        painter.end();
        if (!image.save(folder + QStringLiteral("/sentorix.png"))) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
