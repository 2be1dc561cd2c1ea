#include "updatefilereader.h"

#include <QIODevice>
#include <QtEndian>

namespace updatefilereader {

namespace {

constexpr quint64 addressRangeEnd = quint64(1) << 32;
constexpr qint64 fileSizeLimit = qint64(1) << 32;

bool readField(QIODevice &device, u_int32_t *value)
{
    uchar bytes[4];
    if (device.read(reinterpret_cast<char *>(bytes), sizeof bytes) != qint64(sizeof bytes))
        return false;
    *value = qFromLittleEndian<quint32>(bytes);
    return true;
}

QString imageLabel(const QList<UpdaterThread::imgHeader> &list, int index)
{
    QString label = QStringLiteral("image ") + QString::number(index + 1);
    QString name;
    for (char c : list.at(index).name) {
        if (c == '\0')
            break;
        const uchar byte = uchar(c);
        name += (byte >= 0x20 && byte < 0x7f) ? QLatin1Char(c) : QLatin1Char('?');
    }
    if (!name.isEmpty())
        label += QStringLiteral(" (") + name + QLatin1Char(')');
    return label;
}

} // namespace

int readHeaders(QIODevice &device, QList<UpdaterThread::imgHeader> *list)
{
    // 64 bits, so that a chain running past 4 GiB ends instead of wrapping.
    quint64 position = 0;
    for (;;) {
        UpdaterThread::imgHeader header{};
        u_int32_t name = 0;
        u_int32_t nextOffset = 0;
        // The reserved bytes 16 to 27 are skipped on purpose: nothing is read from them.
        const bool whole = device.seek(qint64(position)) && readField(device, &header.version) &&
                           readField(device, &header.address) && readField(device, &header.minHW) &&
                           readField(device, &name) && device.seek(qint64(position + nextOffsetPosition)) &&
                           readField(device, &nextOffset);
        if (!whole)
            return chainCutShort;
        qToLittleEndian(name, header.name);
        header.offset = u_int32_t(position);
        header.size = nextOffset != 0 ? nextOffset : u_int32_t(quint64(device.size()) - position);
        list->append(header);
        if (nextOffset == 0)
            return chainComplete;
        position += nextOffset;
    }
}

Finding check(const QList<UpdaterThread::imgHeader> &list, int chainResult, qint64 fileSize)
{
    Finding finding;
    if (fileSize >= fileSizeLimit) {
        finding.fault = Fault::FileTooLarge;
    } else if (list.isEmpty()) {
        finding.fault = Fault::NoImage;
    } else if (chainResult != chainComplete) {
        finding.fault = Fault::CutShort;
        finding.cutPosition = quint64(list.last().offset) + list.last().size;
    } else {
        for (int i = 0; i < list.size(); ++i) {
            const UpdaterThread::imgHeader &image = list.at(i);
            if (image.size > imageBufferLimit)
                finding.fault = Fault::ImageTooLarge;
            else if (quint64(image.address) + image.size > addressRangeEnd)
                finding.fault = Fault::AddressWraps;
            if (finding.fault != Fault::None) {
                finding.image = i;
                break;
            }
        }
    }
    return finding;
}

QString describe(const Finding &finding, const QString &filename, const QList<UpdaterThread::imgHeader> &list)
{
    const QString prefix = QStringLiteral("Error in ") + filename + QStringLiteral(": ");
    switch (finding.fault) {
    case Fault::None:
        break;
    case Fault::FileTooLarge:
        return prefix + QStringLiteral("the file is 4 GiB or larger");
    case Fault::NoImage:
        return prefix + QStringLiteral("no image found");
    case Fault::CutShort:
        return prefix + QStringLiteral("image header cut short at 0x") +
               QString::number(finding.cutPosition, 16);
    case Fault::ImageTooLarge:
        return prefix + imageLabel(list, finding.image) + QStringLiteral(" is larger than 32 MiB, size 0x") +
               QString::number(list.at(finding.image).size, 16);
    case Fault::AddressWraps:
        return prefix + imageLabel(list, finding.image) + QStringLiteral(" at 0x") +
               QString::number(list.at(finding.image).address, 16) +
               QStringLiteral(" runs past the last flash address 0xffffffff");
    }
    return QString();
}

} // namespace updatefilereader
