#include "flashhandle.h"

#include "flashio.h"
#include "flashlock.h"
#include "zarndriver.h"

#include <algorithm>
#include <fcntl.h>
#include <QLatin1String>
#include <unistd.h>

using zarndriver::blockSize;

namespace {

const char *operationOf(FlashFailure::Call call)
{
    switch (call) {
    case FlashFailure::Call::Seek:
        return "seeking";
    case FlashFailure::Call::Read:
        return "reading";
    case FlashFailure::Call::Write:
        return "writing";
    case FlashFailure::Call::Erase:
        return "erasing";
    case FlashFailure::Call::None:
    case FlashFailure::Call::Open:
    case FlashFailure::Call::Lock:
    case FlashFailure::Call::Unlock:
        break;
    }
    return nullptr;
}

} // namespace

QString FlashFailure::line() const
{
    const QLatin1String node(zarndriver::flashPath);
    switch (call) {
    case Call::None:
        return QString();
    case Call::Open: {
        // The established line when the driver is not loaded; its cause beside it otherwise.
        const QString cause = flashio::openFailureCause(error);
        return QStringLiteral("Error opening ") + node +
               (cause.isEmpty() ? QString() : QStringLiteral(": ") + cause);
    }
    case Call::Lock:
        if (busy())
            return flashlock::busyText(holder);
        return QStringLiteral("Error locking ") + node + QStringLiteral(": ") + flashio::causeText(error);
    case Call::Unlock:
        return QStringLiteral("Error unlocking Flash memory.");
    case Call::Seek:
    case Call::Read:
    case Call::Write:
    case Call::Erase:
        break;
    }
    return flashio::failureLine(operationOf(call), address, error);
}

bool FlashFailure::lineNamesCause() const
{
    switch (call) {
    case Call::None:
    case Call::Unlock:
        return false;
    case Call::Open:
        return !flashio::openFailureCause(error).isEmpty();
    case Call::Lock:
        return !busy();
    case Call::Seek:
    case Call::Read:
    case Call::Write:
    case Call::Erase:
        break;
    }
    return true;
}

FlashHandle::FlashHandle(Mode mode)
    // A run has always opened the node read-write and nothing more.
    : descriptor(::open(zarndriver::flashPath, mode == Mode::ReadWrite ? O_RDWR : O_RDONLY | O_CLOEXEC))
{
    if (descriptor < 0) {
        opening = {FlashFailure::Call::Open, errno, 0, 0};
        return;
    }
    // Held until the node closes, however the holder ends.
    const flashlock::Attempt lock = flashlock::tryLock(descriptor);
    if (lock.state == flashlock::Attempt::Busy)
        opening = {FlashFailure::Call::Lock, EWOULDBLOCK, 0, lock.holder};
    else if (lock.state == flashlock::Attempt::Failed)
        opening = {FlashFailure::Call::Lock, lock.error, 0, 0};
}

FlashHandle::FlashHandle(FlashHandle &&other) noexcept
    : descriptor(other.descriptor), owned(other.owned), opening(other.opening)
{
    other.descriptor = -1;
}

FlashHandle::~FlashHandle()
{
    // Nothing was written through a descriptor whose close could lose it: the
    // driver programs each write before the call returns.
    if (owned && descriptor >= 0)
        ::close(descriptor);
}

FlashFailure FlashHandle::seek(u_int32_t address) const
{
    if (const int error = flashio::seek(descriptor, address))
        return FlashFailure::at(FlashFailure::Call::Seek, address, error);
    return {};
}

FlashFailure FlashHandle::readHere(u_int32_t address, void *target, size_t length) const
{
    if (const int error = flashio::readAll(descriptor, target, length))
        return FlashFailure::at(FlashFailure::Call::Read, address, error);
    return {};
}

FlashFailure FlashHandle::read(u_int32_t address, void *target, size_t length) const
{
    if (const FlashFailure failure = seek(address))
        return failure;
    auto *bytes = static_cast<uchar *>(target);
    for (size_t at = 0; at < length; at += blockSize) {
        const size_t count = std::min<size_t>(blockSize, length - at);
        if (const FlashFailure failure = readHere(u_int32_t(address + at), bytes + at, count))
            return failure;
    }
    return {};
}

FlashFailure FlashHandle::read(u_int32_t address, size_t length, const BlockTaker &take) const
{
    if (const FlashFailure failure = seek(address))
        return failure;
    uchar block[blockSize];
    for (size_t at = 0; at < length; at += blockSize) {
        const size_t count = std::min<size_t>(blockSize, length - at);
        if (const FlashFailure failure = readHere(u_int32_t(address + at), block, count))
            return failure;
        if (!take(at, block, count))
            break;
    }
    return {};
}
