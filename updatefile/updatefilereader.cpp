#include "updatefilereader.h"

#include "zarndriver.h"

#include <fcntl.h>
#include <map>
#include <QFile>
#include <QIODevice>
#include <QtEndian>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace updatefilereader {

namespace {

constexpr quint64 addressRangeEnd = quint64(1) << 32;
constexpr qint64 fileSizeLimit = qint64(1) << 32;
constexpr quint64 pageSize = zarndriver::pageSize;

// The flash an image's two erase passes and any page repair may clear: whole
// pages counted from its own address, so up to a page less one byte past its end.
quint64 erasedEnd(const ImageHeader &image)
{
    const quint64 pages = (quint64(image.size) + pageSize - 1) / pageSize;
    return quint64(image.address) + pages * pageSize;
}

// The image's own bytes once programmed. The block length counts the header,
// so the last 32 bytes programmed are the next image's header (or erased
// filler), which nothing needs to keep.
quint64 dataEnd(const ImageHeader &image)
{
    return quint64(image.address) + image.size - headerSize;
}

// Images are programmed in file order, and each one's erasing can reach past
// its end. The first image whose pages would clear the data of an image already
// programmed and verified, or -1.
std::pair<int, int> firstErasingOfEarlierImage(const QList<ImageHeader> &list)
{
    // Start of each earlier image's data -> its end and its index. The ranges
    // are disjoint: an overlap would have been found when the later one came.
    std::map<quint64, std::pair<quint64, int>> programmed;
    for (int i = 0; i < list.size(); ++i) {
        const quint64 start = list.at(i).address;
        const quint64 end = erasedEnd(list.at(i));
        auto next = programmed.lower_bound(start);
        if (next != programmed.end() && next->first < end)
            return {i, next->second.second};
        if (next != programmed.begin()) {
            const auto previous = std::prev(next);
            if (previous->second.first > start)
                return {i, previous->second.second};
        }
        if (dataEnd(list.at(i)) > start)
            programmed.emplace(start, std::make_pair(dataEnd(list.at(i)), i));
    }
    return {-1, -1};
}

bool readField(QIODevice &device, u_int32_t *value)
{
    uchar bytes[4];
    if (device.read(reinterpret_cast<char *>(bytes), sizeof bytes) != qint64(sizeof bytes))
        return false;
    *value = qFromLittleEndian<quint32>(bytes);
    return true;
}

} // namespace

QString imageLabel(const QList<ImageHeader> &list, int index)
{
    QString label = QStringLiteral("image ") + QString::number(index + 1);
    QString name;
    for (const char c : nameBytes(list.at(index))) {
        const uchar byte = uchar(c);
        name += (byte >= 0x20 && byte < 0x7f) ? QLatin1Char(c) : QLatin1Char('?');
    }
    if (!name.isEmpty())
        label += QStringLiteral(" (") + name + QLatin1Char(')');
    return label;
}

bool openRegularFile(QFile &file)
{
    const QByteArray path = QFile::encodeName(file.fileName());
    if (path.isEmpty())
        return false;
    // Non-blocking only for the open itself, so that a FIFO cannot hold it.
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status;
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    if (!regular || ::fcntl(fd, F_SETFL, 0) != 0 ||
        !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

int readHeaders(QIODevice &device, QList<ImageHeader> *list)
{
    // 64 bits, so that a chain running past 4 GiB ends instead of wrapping.
    quint64 position = 0;
    for (;;) {
        ImageHeader header{};
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

Finding check(const QList<ImageHeader> &list, int chainResult, qint64 fileSize)
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
            const ImageHeader &image = list.at(i);
            if (image.size > imageBufferLimit)
                finding.fault = Fault::ImageTooLarge;
            else if (quint64(image.address) + image.size > addressRangeEnd)
                finding.fault = Fault::AddressWraps;
            else if (image.size < u_int32_t(headerSize))
                finding.fault = Fault::ShorterThanHeader;
            if (finding.fault != Fault::None) {
                finding.image = i;
                return finding;
            }
        }
        const std::pair<int, int> overlap = firstErasingOfEarlierImage(list);
        if (overlap.first >= 0) {
            finding.fault = Fault::ErasesEarlierImage;
            finding.image = overlap.first;
            finding.earlierImage = overlap.second;
        }
    }
    return finding;
}

QString describe(const Finding &finding, const QString &filename, const QList<ImageHeader> &list)
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
    case Fault::ShorterThanHeader:
        return prefix + imageLabel(list, finding.image) +
               QStringLiteral(" is shorter than its header, size 0x") +
               QString::number(list.at(finding.image).size, 16);
    case Fault::ErasesEarlierImage:
        return prefix + imageLabel(list, finding.image) + QStringLiteral(" at 0x") +
               QString::number(list.at(finding.image).address, 16) + QStringLiteral(" would erase ") +
               imageLabel(list, finding.earlierImage) + QStringLiteral(" at 0x") +
               QString::number(list.at(finding.earlierImage).address, 16);
    }
    return QString();
}

} // namespace updatefilereader
