#include "formpixmap.h"

#include <QFileInfo>
#include <QImage>
#include <QImageReader>

QPixmap formPixmap(const char *path)
{
    const QString name = QString::fromUtf8(path);
    if (!QFileInfo::exists(name))
        return {}; // a program built without the logo shows none, as the form would
    QImageReader reader(name, QFileInfo(name).suffix().toLatin1());
    reader.setAutoDetectImageFormat(false);
    QImage image = reader.read();
    if (image.isNull())
        return QPixmap(name); // as the form would have it, plugins and all
    if (image.format() == QImage::Format_ARGB32) {
        uchar *const bits = image.bits();
        for (int y = 0; y < image.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(bits + y * image.bytesPerLine());
            for (int x = 0; x < image.width(); ++x) {
                // A logo's pixels are mostly clear or solid, which premultiplying leaves as they are.
                if (const int alpha = qAlpha(line[x]); alpha == 0)
                    line[x] = 0;
                else if (alpha != 255)
                    line[x] = qPremultiply(line[x]);
            }
        }
        image.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
    }
    return QPixmap::fromImage(std::move(image));
}
