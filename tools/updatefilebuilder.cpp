#include "updatefilebuilder.h"

#include <algorithm>
#include <QSaveFile>
#include <QtEndian>

namespace updatefile {

namespace {

constexpr int nameSize = 4;
constexpr int reservedOffset = 16;
constexpr int reservedSize = 12;
constexpr int nextOffsetOffset = 28;

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
        char header[headerSize] = {};
        putWord(header, 0, image.version);
        putWord(header, 4, image.address);
        putWord(header, 8, image.minHW);
        std::copy_n(image.name.constData(), qMin(image.name.size(), nameSize), header + 12);
        std::copy_n(image.reserved.constData(), qMin(image.reserved.size(), reservedSize),
                    header + reservedOffset);
        const bool last = i == images.size() - 1;
        putWord(header, nextOffsetOffset, last ? 0 : quint32(headerSize + image.data.size()));
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
