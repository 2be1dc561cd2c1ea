#include "updatefilebuilder.h"

#include <algorithm>
#include <QSaveFile>
#include <QtEndian>

namespace updatefile {

namespace {

void putWord(char *header, int offset, quint32 value)
{
    qToLittleEndian(value, header + offset);
}

} // namespace

QByteArray build(const QList<Image> &images)
{
    QByteArray file;
    for (int i = 0; i < images.size(); ++i) {
        const Image &image = images.at(i);
        using namespace headerlayout;
        char header[headerSize] = {};
        putWord(header, versionPosition, image.version);
        putWord(header, addressPosition, image.address);
        putWord(header, minHWPosition, image.minHW);
        std::copy_n(image.name.constData(), qMin(image.name.size(), nameSize), header + namePosition);
        std::copy_n(image.reserved.constData(), qMin(image.reserved.size(), reservedSize),
                    header + reservedPosition);
        const bool last = i == images.size() - 1;
        putWord(header, nextOffsetPosition, last ? 0 : quint32(headerSize + image.data.size()));
        file.append(header, headerSize);
        file.append(image.data);
    }
    return file;
}

QByteArray pattern(quint32 seed, int length)
{
    // xorshift32 never reaches 0, so mixing in a constant keeps seed 0 usable.
    quint32 state = seed ^ 0x9E3779B9u;
    if (state == 0)
        state = 0x9E3779B9u;
    QByteArray bytes(qMax(length, 0), Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); i += 4) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        for (int k = 0; k < 4 && i + k < bytes.size(); ++k)
            bytes[i + k] = char(state >> (8 * k));
    }
    return bytes;
}

bool writeFile(const QString &path, const QList<Image> &images)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = build(images);
    if (file.write(bytes) != bytes.size())
        return false;
    return file.commit();
}

} // namespace updatefile
