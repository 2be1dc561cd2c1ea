#include "flashaudit.h"

#include "flashio.h"
#include "flashlock.h"
#include "imagebuffer.h"
#include "updatefilereader.h"
#include "zarndriver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <QFile>
#include <QSaveFile>
#include <unistd.h>
#include <vector>

namespace flashaudit {

namespace {

using zarndriver::blockSize;

// The flash opened for reading and locked against updates, for as long as it lives.
class ReadOnlyFlash
{
public:
    ReadOnlyFlash() : fd(::open(zarndriver::flashPath, O_RDONLY | O_CLOEXEC))
    {
        if (fd < 0) {
            const QString cause = flashio::openFailureCause(errno);
            outcome.kind = Outcome::NoDevice;
            outcome.line = QStringLiteral("Error opening ") + QLatin1String(zarndriver::flashPath) +
                           (cause.isEmpty() ? QString() : QStringLiteral(": ") + cause);
            return;
        }
        const flashlock::Attempt lock = flashlock::tryLock(fd);
        if (lock.state == flashlock::Attempt::Busy) {
            outcome.kind = Outcome::Busy;
            outcome.line = flashlock::busyText(lock.holder);
        } else if (lock.state == flashlock::Attempt::Failed) {
            outcome.kind = Outcome::Failed;
            outcome.line = QStringLiteral("Error locking ") + QLatin1String(zarndriver::flashPath) +
                           QStringLiteral(": ") + flashio::causeText(lock.error);
        }
    }
    ~ReadOnlyFlash()
    {
        if (fd >= 0)
            ::close(fd);
    }
    ReadOnlyFlash(const ReadOnlyFlash &) = delete;
    ReadOnlyFlash &operator=(const ReadOnlyFlash &) = delete;

    bool ready() const { return outcome.kind == Outcome::Done; }

    // length bytes from address into target; false with the outcome set.
    bool read(u_int32_t address, uchar *target, u_int32_t length)
    {
        if (const int error = flashio::seek(fd, address))
            return fail(flashio::failureLine("seeking", address, error));
        for (u_int32_t at = 0; at < length; at += blockSize) {
            const u_int32_t count = std::min(blockSize, length - at);
            if (const int error = flashio::readAll(fd, target + at, count))
                return fail(flashio::failureLine("reading", address + at, error));
        }
        return true;
    }

    bool fail(const QString &line)
    {
        outcome.kind = Outcome::Failed;
        outcome.line = line;
        return false;
    }

    const int fd;
    Outcome outcome;
};

u_int32_t dataLength(const ImageHeader &image)
{
    return image.size - updatefilereader::headerSize;
}

} // namespace

Outcome verify(const QList<ImageHeader> &images, QFile &file, const ImageDone &done)
{
    ReadOnlyFlash flash;
    if (!flash.ready())
        return flash.outcome;
    for (int i = 0; i < images.size(); ++i) {
        const ImageHeader &image = images.at(i);
        const u_int32_t length = dataLength(image);
        ImageBuffer expected;
        ImageBuffer held(length);
        if (expected.view(file, image.offset, length) != ImageBuffer::View::Ready || !held) {
            flash.fail(QStringLiteral("Error reading the update file"));
            return flash.outcome;
        }
        if (!flash.read(image.address, held.data(), length))
            return flash.outcome;
        const auto mismatch = std::mismatch(held.data(), held.data() + length, expected.data());
        const bool equal = mismatch.first == held.data() + length;
        if (!equal) {
            flash.outcome.differing.append(i);
            flash.outcome.firstOffsets.append(image.address + u_int32_t(mismatch.first - held.data()));
        }
        if (done)
            done(i, equal);
    }
    return flash.outcome;
}

Outcome backup(const QList<ImageHeader> &images, QFile &file, const QString &out)
{
    ReadOnlyFlash flash;
    if (!flash.ready())
        return flash.outcome;
    QSaveFile copy(out);
    if (!copy.open(QIODevice::WriteOnly)) {
        flash.fail(QStringLiteral("Error writing ") + out + QStringLiteral(": ") + copy.errorString());
        return flash.outcome;
    }
    for (const ImageHeader &image : images) {
        char header[updatefilereader::headerSize];
        if (!file.seek(image.offset) || file.read(header, sizeof header) != qint64(sizeof header)) {
            flash.fail(QStringLiteral("Error reading the update file"));
            return flash.outcome;
        }
        const u_int32_t length = dataLength(image);
        std::vector<uchar> held(length);
        if (!flash.read(image.address, held.data(), length))
            return flash.outcome;
        if (copy.write(header, sizeof header) != qint64(sizeof header) ||
            copy.write(reinterpret_cast<const char *>(held.data()), length) != qint64(length)) {
            flash.fail(QStringLiteral("Error writing ") + out + QStringLiteral(": ") + copy.errorString());
            return flash.outcome;
        }
    }
    if (!copy.commit())
        flash.fail(QStringLiteral("Error writing ") + out + QStringLiteral(": ") + copy.errorString());
    return flash.outcome;
}

} // namespace flashaudit
