#include "updatesnapshot.h"

#include "updatefilereader.h"

#include <cerrno>
#include <fcntl.h>
#include <QByteArray>
#include <QFile>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr unsigned int seals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL;

// Fills count bytes of target from fd; returns how many it got before the
// file ended (a file cut short while it is read) or -1 on a read error.
qint64 readInto(int fd, uchar *target, qint64 count)
{
    qint64 done = 0;
    while (done < count) {
        const ssize_t got = ::read(fd, target + done, size_t(count - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

} // namespace

UpdateSnapshot::~UpdateSnapshot()
{
    if (memoryFile >= 0)
        ::close(memoryFile);
}

std::shared_ptr<const UpdateSnapshot> UpdateSnapshot::capture(const QString &path)
{
    std::shared_ptr<UpdateSnapshot> snapshot(new UpdateSnapshot);
    snapshot->filePath = path;

    QFile source(path);
    if (!updatefilereader::openRegularFile(source))
        return snapshot;
    const int sourceFd = source.handle();
    struct stat status;
    if (::fstat(sourceFd, &status) != 0)
        return snapshot;
    snapshot->size = status.st_size;
    if (snapshot->size >= sizeLimit) {
        snapshot->isReadable = true;
        return snapshot;
    }

    const int memoryFile = ::memfd_create("zarn-update", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (memoryFile < 0)
        return snapshot;
    snapshot->memoryFile = memoryFile;
    if (snapshot->size > 0) {
        if (::ftruncate(memoryFile, snapshot->size) != 0)
            return snapshot;
        void *writable =
            ::mmap(nullptr, size_t(snapshot->size), PROT_READ | PROT_WRITE, MAP_SHARED, memoryFile, 0);
        if (writable == MAP_FAILED)
            return snapshot;
        const qint64 got = readInto(sourceFd, static_cast<uchar *>(writable), snapshot->size);
        ::munmap(writable, size_t(snapshot->size));
        if (got < 0)
            return snapshot;
        // The file was cut short while it was read: what was read is what is listed and flashed.
        if (got < snapshot->size) {
            if (::ftruncate(memoryFile, got) != 0)
                return snapshot;
            snapshot->size = got;
        }
    }
    if (::fcntl(memoryFile, F_ADD_SEALS, seals) != 0)
        return snapshot;
    snapshot->isReadable = true;
    return snapshot;
}

bool UpdateSnapshot::open(QFile &file) const
{
    if (!holdsBytes())
        return false;
    // A descriptor of its own, with its own position, so that the listing and
    // the run never move each other's reads.
    const QByteArray own = "/proc/self/fd/" + QByteArray::number(memoryFile);
    const int fd = ::open(own.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

QByteArray UpdateSnapshot::digest(QByteArray (*compute)(const UpdateSnapshot &)) const
{
    const std::lock_guard<std::mutex> lock(digestLock);
    if (knownDigest.isEmpty() && holdsBytes())
        knownDigest = compute(*this);
    return knownDigest;
}

QString UpdateSnapshot::refusal(QList<ImageHeader> *images, QFile &file) const
{
    int chain = updatefilereader::chainComplete;
    if (holdsBytes() && open(file))
        chain = updatefilereader::readHeaders(file, images);
    else if (!readable() || holdsBytes())
        return QStringLiteral("Error opening ") + filePath;
    // A damaged file is refused whole before the flash is touched, so it can
    // never leave the flash half-programmed.
    const updatefilereader::Finding finding = updatefilereader::check(*images, chain, size);
    if (finding.fault != updatefilereader::Fault::None)
        return updatefilereader::describe(finding, filePath, *images);
    return QString();
}
