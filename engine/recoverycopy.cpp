#include "recoverycopy.h"

#include "digest.h"
#include "flashhandle.h"
#include "updatefilereader.h"
#include "updatesnapshot.h"
#include "zarndriver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace recoverycopy {

namespace {

using zarndriver::pageSize;

constexpr char preImageMagic[8] = {'Z', 'A', 'R', 'N', 'P', 'R', 'E', '1'};
constexpr int recordSize = updatefilereader::headerSize;
constexpr quint64 addressSpaceEnd = quint64(1) << 32;

QString causeOf(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A file being written into the journal: group-writable whatever the umask,
// so that every operator of the group may finish or undo the update.
class Writer
{
public:
    Writer(const QString &folder, const char *suffix)
        : folder(folder), suffix(QLatin1String(suffix)),
          temporary(QFile::encodeName(folder + QStringLiteral("/.copy-") + QString::number(::getpid()) +
                                      QLatin1Char('.') + this->suffix)),
          fd(::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0660))
    {
        if (fd < 0)
            error = errno;
        else if (::fchmod(fd, 0660) != 0)
            error = errno;
        pending.reserve(pendingCapacity);
    }
    ~Writer()
    {
        if (fd >= 0)
            ::close(fd);
        if (!done)
            ::unlink(temporary.constData());
    }
    Writer(const Writer &) = delete;
    Writer &operator=(const Writer &) = delete;

    // hashing: false for bytes whose digest is known already.
    bool put(const void *data, size_t length, bool hashing = true)
    {
        if (hashing)
            hash.add(data, length);
        // The pre-image comes a KiB at a time, as the flash is read: gathered
        // here, it costs the disk one call for every 64 KiB, not one a KiB.
        if (pending.size() + length <= pendingCapacity) {
            pending.append(static_cast<const char *>(data), int(length));
            return error == 0;
        }
        return flush() && writeOut(data, length);
    }

    bool flush()
    {
        const bool ok = writeOut(pending.constData(), size_t(pending.size()));
        pending.clear();
        return ok;
    }

    bool writeOut(const void *data, size_t length)
    {
        const auto *bytes = static_cast<const char *>(data);
        while (error == 0 && length > 0) {
            const ssize_t wrote = ::write(fd, bytes, length);
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote <= 0) {
                error = wrote < 0 ? errno : ENOSPC;
                break;
            }
            bytes += wrote;
            length -= size_t(wrote);
        }
        return error == 0;
    }

    // Durable under its SHA-256 (known: that of bytes put without hashing),
    // or *why says why not.
    bool finish(Kept *kept, QString *why, const QByteArray &known = QByteArray())
    {
        const QString sha256 = QString::fromLatin1(known.isEmpty() ? hash.hex() : known);
        if (sha256.isEmpty() && error == 0)
            error = EIO;
        const QString name = sha256 + QLatin1Char('.') + suffix;
        flush();
        if (error == 0 && ::fsync(fd) != 0)
            error = errno;
        if (error == 0 && ::close(fd) != 0)
            error = errno;
        fd = -1;
        if (error == 0 && ::rename(temporary.constData(),
                                   QFile::encodeName(folder + QLatin1Char('/') + name).constData()) != 0)
            error = errno;
        if (error == 0) {
            const int folderFd =
                ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (folderFd < 0 || ::fsync(folderFd) != 0)
                error = errno;
            if (folderFd >= 0)
                ::close(folderFd);
        }
        if (error != 0) {
            *why = QStringLiteral("The recovery copy cannot be written in ") + folder + QStringLiteral(": ") +
                   causeOf(error);
            return false;
        }
        done = true;
        *kept = {name, sha256};
        return true;
    }

    int error = 0;

private:
    const QString folder;
    const QString suffix;
    const QByteArray temporary;
    int fd;
    static constexpr int pendingCapacity = 65536;
    QByteArray pending;
    provenance::Sha256 hash;
    bool done = false;
};

} // namespace

std::vector<Page> erasedPages(const QList<ImageHeader> &images)
{
    std::vector<Page> pages;
    for (const ImageHeader &image : images) {
        const quint32 count = image.size / pageSize + (image.size % pageSize != 0 ? 1 : 0);
        for (quint32 k = 0; k < count; ++k) {
            const quint64 address = quint64(image.address) + quint64(k) * pageSize;
            if (address < addressSpaceEnd)
                pages.push_back({address, quint32(std::min<quint64>(pageSize, addressSpaceEnd - address))});
        }
    }
    std::sort(pages.begin(), pages.end(), [](const Page &a, const Page &b) { return a.address < b.address; });
    pages.erase(std::unique(pages.begin(), pages.end(),
                            [](const Page &a, const Page &b) { return a.address == b.address; }),
                pages.end());
    return pages;
}

quint64 roomNeeded(qint64 fileSize, const std::vector<Page> &pages)
{
    quint64 needed = quint64(std::max<qint64>(fileSize, 0)) + sizeof preImageMagic;
    for (const Page &page : pages)
        needed += recordSize + page.length;
    return needed;
}

QString roomRefusal(const QString &folder, quint64 needed)
{
    // A journal not made yet takes the room of the folder it will be made in.
    QString existing = folder;
    while (!existing.isEmpty() && existing != QLatin1String("/") && !QFileInfo(existing).isDir())
        existing = QFileInfo(existing).path();
    struct statvfs status;
    if (::statvfs(QFile::encodeName(existing).constData(), &status) != 0)
        return QStringLiteral("The room for the recovery copies in ") + folder +
               QStringLiteral(" cannot be told: ") + causeOf(errno);
    const quint64 available = quint64(status.f_bavail) * quint64(status.f_frsize);
    if (available >= needed)
        return QString();
    return QStringLiteral("There is no room for the recovery copies in %1: %2 bytes are needed, %3 are free")
        .arg(folder, QString::number(needed), QString::number(available));
}

bool write(const QString &folder, const UpdateSnapshot &snapshot, const FlashHandle &flash,
           const std::vector<Page> &pages, Kept *target, Kept *before, QString *error,
           FlashFailure *flashFailure)
{
    const auto failed = [error](const Writer &writer) {
        *error = QStringLiteral("The recovery copy cannot be written: ") + causeOf(writer.error);
        return false;
    };
    {
        QFile bytes;
        Writer copy(folder, "update");
        // The run and its history hash the same sealed bytes: once for all of them.
        const QByteArray sha256 = provenance::sha256(snapshot);
        if (sha256.isEmpty() || !snapshot.open(bytes)) {
            *error = QStringLiteral("The update's bytes cannot be read for the recovery copy");
            return false;
        }
        char chunk[65536];
        qint64 copied = 0;
        for (qint64 got; (got = bytes.read(chunk, sizeof chunk)) > 0; copied += got)
            if (!copy.put(chunk, size_t(got), false))
                return failed(copy);
        // Named by the digest of every byte, it must hold every byte.
        if (copied != snapshot.fileSize()) {
            *error = QStringLiteral("The update's bytes cannot be read for the recovery copy");
            return false;
        }
        if (!copy.finish(target, error, sha256))
            return false;
    }
    Writer copy(folder, "before");
    if (!copy.put(preImageMagic, sizeof preImageMagic))
        return failed(copy);
    for (const Page &page : pages) {
        uchar record[recordSize] = {};
        qToLittleEndian<quint64>(page.address, record);
        qToLittleEndian<quint64>(page.length, record + 8);
        if (!copy.put(record, sizeof record))
            return failed(copy);
        bool written = true;
        const FlashFailure failure =
            flash.read(quint32(page.address), page.length, [&](size_t, const uchar *block, size_t count) {
                return written = copy.put(block, count);
            });
        if (failure) {
            *flashFailure = failure;
            return false;
        }
        if (!written)
            return failed(copy);
    }
    return copy.finish(before, error);
}

bool readPreImage(QFile &file, QList<ImageHeader> *pages, QString *error)
{
    char magic[sizeof preImageMagic];
    if (!file.seek(0) || file.read(magic, sizeof magic) != qint64(sizeof magic) ||
        std::memcmp(magic, preImageMagic, sizeof magic) != 0) {
        *error = QStringLiteral("it is not a pre-image");
        return false;
    }
    for (qint64 at = sizeof magic; at < file.size();) {
        uchar record[recordSize];
        if (!file.seek(at) || file.read(reinterpret_cast<char *>(record), recordSize) != recordSize) {
            *error = QStringLiteral("its page record at %1 is cut short").arg(at);
            return false;
        }
        const quint64 address = qFromLittleEndian<quint64>(record);
        const quint64 length = qFromLittleEndian<quint64>(record + 8);
        if (length == 0 || length > pageSize || address + length > addressSpaceEnd ||
            at + recordSize + qint64(length) > file.size() || at > qint64(UINT32_MAX)) {
            *error = QStringLiteral("its page record at %1 is not one this program writes").arg(at);
            return false;
        }
        ImageHeader page{};
        page.address = quint32(address);
        page.size = quint32(recordSize + length);
        page.offset = quint32(at);
        std::memcpy(page.name, "PRE", 3);
        pages->append(page);
        at += recordSize + qint64(length);
    }
    return true;
}

} // namespace recoverycopy
