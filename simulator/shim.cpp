// The interposers that act on descriptors of the device nodes: transfers,
// seeks, requests, locks and status.

#include "shim.h"

#include <cstdarg>
#include <optional>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
// glibc declares these only for fortified builds.
ssize_t __read_chk(int fd, void *buffer, size_t size, size_t bufferSize);
ssize_t __pread_chk(int fd, void *buffer, size_t size, off_t offset, size_t bufferSize);
ssize_t __pread64_chk(int fd, void *buffer, size_t size, off64_t offset, size_t bufferSize);
[[noreturn]] void __chk_fail(void);
// The entry points of fstat before glibc 2.33, still exported; the sanitizer
// runtimes call them for fstat and fstat64.
int __fxstat(int version, int fd, struct stat *status);
int __fxstat64(int version, int fd, struct stat64 *status);
}

namespace {

using namespace zarnsim;
using zarnsim::detail::isEmulated;
using zarnsim::shim::finish;

ssize_t readDevice(int fd, void *buffer, size_t size, std::optional<long> at)
{
    return finish([&] { return detail::read(fd, buffer, size, at); });
}

ssize_t writeDevice(int fd, const void *buffer, size_t size, std::optional<long> at)
{
    return finish([&] { return detail::write(fd, buffer, size, at); });
}

off_t seekDevice(int fd, long offset, int whence)
{
    return finish([&] { return detail::lseek(fd, offset, whence); });
}

// struct stat and struct stat64 are alike on the platforms the simulator
// serves, but they are two types: each gets its fields one by one.
template <typename Status> int statDevice(int fd, Status *status)
{
    struct stat device;
    if (!detail::fileStatus(fd, device)) {
        errno = EBADF;
        return -1;
    }
    *status = Status();
    status->st_dev = device.st_dev;
    status->st_ino = device.st_ino;
    status->st_mode = device.st_mode;
    status->st_nlink = device.st_nlink;
    status->st_uid = device.st_uid;
    status->st_gid = device.st_gid;
    status->st_rdev = device.st_rdev;
    status->st_blksize = device.st_blksize;
    return 0;
}

} // namespace

extern "C" {

ssize_t read(int fd, void *buffer, size_t size)
{
    if (!isEmulated(fd))
        return ZARNSIM_NEXT(read)(fd, buffer, size);
    return readDevice(fd, buffer, size, std::nullopt);
}

ssize_t __read_chk(int fd, void *buffer, size_t size, size_t bufferSize)
{
    if (!isEmulated(fd))
        return ZARNSIM_NEXT(__read_chk)(fd, buffer, size, bufferSize);
    if (size > bufferSize)
        __chk_fail();
    return readDevice(fd, buffer, size, std::nullopt);
}

ssize_t write(int fd, const void *buffer, size_t size)
{
    if (!isEmulated(fd))
        return ZARNSIM_NEXT(write)(fd, buffer, size);
    return writeDevice(fd, buffer, size, std::nullopt);
}

ssize_t pread(int fd, void *buffer, size_t size, off_t offset)
{
    if (!isEmulated(fd))
        return ZARNSIM_NEXT(pread)(fd, buffer, size, offset);
    return readDevice(fd, buffer, size, offset);
}

ssize_t pread64(int fd, void *buffer, size_t size, off64_t offset)
{
    if (!isEmulated(fd))
        return ZARNSIM_NEXT(pread64)(fd, buffer, size, offset);
    return readDevice(fd, buffer, size, offset);
}

ssize_t __pread_chk(int fd, void *buffer, size_t size, off_t offset, size_t bufferSize)
{
    if (!isEmulated(fd))
        return ZARNSIM_NEXT(__pread_chk)(fd, buffer, size, offset, bufferSize);
    if (size > bufferSize)
        __chk_fail();
    return readDevice(fd, buffer, size, offset);
}

ssize_t __pread64_chk(int fd, void *buffer, size_t size, off64_t offset, size_t bufferSize)
{
    if (!isEmulated(fd))
        return ZARNSIM_NEXT(__pread64_chk)(fd, buffer, size, offset, bufferSize);
    if (size > bufferSize)
        __chk_fail();
    return readDevice(fd, buffer, size, offset);
}

ssize_t pwrite(int fd, const void *buffer, size_t size, off_t offset)
{
    if (!isEmulated(fd))
        return ZARNSIM_NEXT(pwrite)(fd, buffer, size, offset);
    return writeDevice(fd, buffer, size, offset);
}

ssize_t pwrite64(int fd, const void *buffer, size_t size, off64_t offset)
{
    if (!isEmulated(fd))
        return ZARNSIM_NEXT(pwrite64)(fd, buffer, size, offset);
    return writeDevice(fd, buffer, size, offset);
}

off_t lseek(int fd, off_t offset, int whence) noexcept
{
    if (!isEmulated(fd))
        return ZARNSIM_NEXT(lseek)(fd, offset, whence);
    return seekDevice(fd, offset, whence);
}

off64_t lseek64(int fd, off64_t offset, int whence) noexcept
{
    if (!isEmulated(fd))
        return ZARNSIM_NEXT(lseek64)(fd, offset, whence);
    return seekDevice(fd, offset, whence);
}

// Requests are compared as 32 bits: a caller passing an int request code has
// it sign-extended on the way in.
int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list arguments;
    va_start(arguments, request);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    if (!isEmulated(fd))
        return ZARNSIM_NEXT(ioctl)(fd, request, argument);
    return int(finish(
        [&] { return detail::ioctl(fd, uint32_t(request), reinterpret_cast<unsigned long>(argument)); }));
}

// Not in the record: tests compare it call by call, and locking is the
// kernel's business, not the driver's.
int flock(int fd, int operation) noexcept
{
    if (!isEmulated(fd))
        return ZARNSIM_NEXT(flock)(fd, operation);
    return int(finish([&] { return detail::flock(fd, operation); }));
}

int fstat(int fd, struct stat *status) noexcept
{
    if (!isEmulated(fd))
        return ZARNSIM_NEXT(fstat)(fd, status);
    return statDevice(fd, status);
}

int fstat64(int fd, struct stat64 *status) noexcept
{
    if (!isEmulated(fd))
        return ZARNSIM_NEXT(fstat64)(fd, status);
    return statDevice(fd, status);
}

int __fxstat(int version, int fd, struct stat *status)
{
    if (!isEmulated(fd))
        return ZARNSIM_NEXT(__fxstat)(version, fd, status);
    return statDevice(fd, status);
}

int __fxstat64(int version, int fd, struct stat64 *status)
{
    if (!isEmulated(fd))
        return ZARNSIM_NEXT(__fxstat64)(version, fd, status);
    return statDevice(fd, status);
}

} // extern "C"
