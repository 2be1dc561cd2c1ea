#include "flashio.h"

#include "zarndriver.h"

#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>

namespace flashio {

namespace {

template <typename Call> long retryInterrupted(Call call)
{
    for (;;) {
        const long result = call();
        if (result >= 0 || errno != EINTR)
            return result;
    }
}

// Carries a transfer on until all size bytes have moved; the call is made
// once even for size 0. transfer(done) moves what it can from done on.
template <typename Transfer> int transferAll(size_t size, Transfer transfer)
{
    size_t done = 0;
    do {
        const long result = retryInterrupted([&] { return transfer(done); });
        if (result < 0)
            return errno;
        if (result == 0 && size != 0)
            return noProgress;
        done += size_t(result);
    } while (done < size);
    return 0;
}

} // namespace

int seek(int fd, u_int32_t address)
{
    const long result = retryInterrupted([&] { return long(::lseek(fd, off_t(address), SEEK_SET)); });
    if (result < 0)
        return errno;
    // A driver that lands anywhere else would have the next transfer go astray.
    return result == long(address) ? 0 : EINVAL;
}

int writeAll(int fd, const void *data, size_t size)
{
    const auto *bytes = static_cast<const char *>(data);
    return transferAll(size, [&](size_t done) { return long(::write(fd, bytes + done, size - done)); });
}

int readAll(int fd, void *data, size_t size)
{
    auto *bytes = static_cast<char *>(data);
    return transferAll(size, [&](size_t done) { return long(::read(fd, bytes + done, size - done)); });
}

int erasePage(int fd, u_int32_t address)
{
    const long result = retryInterrupted([&] {
        return long(::ioctl(fd, zarndriver::flashIocErasePage, static_cast<unsigned long>(address)));
    });
    return result < 0 ? errno : 0;
}

int unlock(int fd)
{
    const long result = retryInterrupted(
        [&] { return long(::ioctl(fd, zarndriver::flashIocUnlock, zarndriver::unlockPhrase)); });
    return result < 0 ? errno : 0;
}

QString causeText(int error)
{
    if (error == noProgress)
        return QStringLiteral("the device moved no data");
    return QString::fromLocal8Bit(std::strerror(error));
}

QString openFailureCause(int error)
{
    if (error == ENOENT)
        return QString();
    if (error == EACCES || error == EPERM)
        return causeText(error) +
               QStringLiteral(": the user must be a member of the group zarn and log in again");
    return causeText(error);
}

QString failureLine(const char *operation, u_int32_t address, int error)
{
    return QStringLiteral("Error ") + QLatin1String(operation) + QStringLiteral(" Flash memory at 0x") +
           QString::number(address, 16) + QStringLiteral(": ") + causeText(error);
}

} // namespace flashio
