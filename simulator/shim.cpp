// The interposers. Each one asks a per-descriptor flag first, so that ordinary
// files, sockets and pipes go straight to the next definition without a lock;
// only descriptors of the two device nodes reach the device model.
//
// lseek and lseek64 are separate functions only without 64-bit file offsets,
// and the fortified inline wrappers would collide with these definitions.
#if defined(_FILE_OFFSET_BITS) && _FILE_OFFSET_BITS == 64
#error "the shim must be built without _FILE_OFFSET_BITS=64"
#endif
#undef _FORTIFY_SOURCE

#include "device.h"
#include "realcalls.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <optional>
#include <sys/ioctl.h>
#include <unistd.h>

extern "C" {
// glibc declares these only for fortified builds.
int __open_2(const char *path, int flags);
int __open64_2(const char *path, int flags);
int __openat_2(int dirfd, const char *path, int flags);
int __openat64_2(int dirfd, const char *path, int flags);
ssize_t __read_chk(int fd, void *buffer, size_t size, size_t bufferSize);
ssize_t __pread_chk(int fd, void *buffer, size_t size, off_t offset, size_t bufferSize);
ssize_t __pread64_chk(int fd, void *buffer, size_t size, off64_t offset, size_t bufferSize);
[[noreturn]] void __chk_fail(void);
}

namespace {

using namespace zarnsim;
using zarnsim::detail::isEmulated;
using zarnsim::detail::Outcome;

template <typename Function> Function next(const char *name)
{
    void *symbol = dlsym(RTLD_NEXT, name);
    if (!symbol) {
        std::fprintf(stderr, "zarnsim: no definition of %s after the simulator\n", name);
        std::abort();
    }
    return reinterpret_cast<Function>(symbol);
}

#define ZARNSIM_NEXT(name)                                                                                   \
    ([] {                                                                                                    \
        static const auto function = next<decltype(&::name)>(#name);                                         \
        return function;                                                                                     \
    }())

std::optional<Node> deviceNode(const char *path)
{
    if (!path)
        return std::nullopt;
    if (std::strcmp(path, flashPath) == 0)
        return Node::Flash;
    if (std::strcmp(path, mailboxPath) == 0)
        return Node::Mailbox;
    return std::nullopt;
}

bool takesMode(int flags)
{
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

// errno changes only on failure, whatever the device did inside.
long finish(const Outcome &outcome, int savedErrno)
{
    if (outcome.result < 0) {
        errno = outcome.error;
        return -1;
    }
    detail::settle(outcome.busyNs);
    errno = savedErrno;
    return outcome.result;
}

int openDevice(Node node, int flags)
{
    const int saved = errno;
    return int(finish(detail::openNode(node, flags), saved));
}

ssize_t readDevice(int fd, void *buffer, size_t size, std::optional<long> at)
{
    const int saved = errno;
    return finish(detail::read(fd, buffer, size, at), saved);
}

ssize_t writeDevice(int fd, const void *buffer, size_t size, std::optional<long> at)
{
    const int saved = errno;
    return finish(detail::write(fd, buffer, size, at), saved);
}

off_t seekDevice(int fd, long offset, int whence)
{
    const int saved = errno;
    return finish(detail::lseek(fd, offset, whence), saved);
}

// A real duplicate of an emulated descriptor shares its open file, as dup
// shares the position of a real one.
int adoptCopy(int fd, int copy)
{
    if (copy >= 0 && !detail::adopt(fd, copy)) {
        ZARNSIM_NEXT(close)(copy);
        errno = EMFILE;
        return -1;
    }
    return copy;
}

template <typename Function> int fcntlDevice(Function realFcntl, int fd, int command, void *argument)
{
    switch (command) {
    case F_DUPFD:
    case F_DUPFD_CLOEXEC:
        return adoptCopy(fd, realFcntl(fd, command, argument));
    case F_GETFL:
        if (const auto flags = detail::statusFlags(fd))
            return *flags;
        errno = EBADF;
        return -1;
    case F_SETFL:
        detail::setStatusFlags(fd, int(reinterpret_cast<intptr_t>(argument)));
        return 0;
    default:
        return realFcntl(fd, command, argument);
    }
}

// dup2 and dup3 onto an emulated number replace it: its entry goes before the
// number is reused.
template <typename Duplicate> int duplicateOnto(int fd, int target, Duplicate duplicate)
{
    if (fd != target && isEmulated(target) && ZARNSIM_NEXT(fcntl)(fd, F_GETFD) >= 0)
        detail::forget(target);
    const int copy = duplicate();
    if (fd != target && isEmulated(fd))
        return adoptCopy(fd, copy);
    return copy;
}

} // namespace

namespace zarnsim::real {

int open(const char *path, int flags, mode_t mode)
{
    return ZARNSIM_NEXT(open)(path, flags, mode);
}

int close(int fd)
{
    return ZARNSIM_NEXT(close)(fd);
}

int dup(int fd)
{
    return ZARNSIM_NEXT(dup)(fd);
}

int dup2(int fd, int target)
{
    return ZARNSIM_NEXT(dup2)(fd, target);
}

int dup3(int fd, int target, int flags)
{
    return ZARNSIM_NEXT(dup3)(fd, target, flags);
}

int fcntl(int fd, int command, void *argument)
{
    return ZARNSIM_NEXT(fcntl)(fd, command, argument);
}

} // namespace zarnsim::real

// open's third argument exists only when the flags ask for one; va_start must
// run in the variadic function itself, hence a macro.
#define ZARNSIM_TAKE_MODE(flags)                                                                             \
    mode_t mode = 0;                                                                                         \
    if (takesMode(flags)) {                                                                                  \
        va_list arguments;                                                                                   \
        va_start(arguments, flags);                                                                          \
        mode = va_arg(arguments, mode_t);                                                                    \
        va_end(arguments);                                                                                   \
    }

extern "C" {

int open(const char *path, int flags, ...)
{
    ZARNSIM_TAKE_MODE(flags);
    if (const auto node = deviceNode(path))
        return openDevice(*node, flags);
    return ZARNSIM_NEXT(open)(path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    ZARNSIM_TAKE_MODE(flags);
    if (const auto node = deviceNode(path))
        return openDevice(*node, flags);
    return ZARNSIM_NEXT(open64)(path, flags, mode);
}

int openat(int dirfd, const char *path, int flags, ...)
{
    ZARNSIM_TAKE_MODE(flags);
    if (const auto node = deviceNode(path))
        return openDevice(*node, flags);
    return ZARNSIM_NEXT(openat)(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char *path, int flags, ...)
{
    ZARNSIM_TAKE_MODE(flags);
    if (const auto node = deviceNode(path))
        return openDevice(*node, flags);
    return ZARNSIM_NEXT(openat64)(dirfd, path, flags, mode);
}

int __open_2(const char *path, int flags)
{
    if (const auto node = deviceNode(path))
        return openDevice(*node, flags);
    return ZARNSIM_NEXT(__open_2)(path, flags);
}

int __open64_2(const char *path, int flags)
{
    if (const auto node = deviceNode(path))
        return openDevice(*node, flags);
    return ZARNSIM_NEXT(__open64_2)(path, flags);
}

int __openat_2(int dirfd, const char *path, int flags)
{
    if (const auto node = deviceNode(path))
        return openDevice(*node, flags);
    return ZARNSIM_NEXT(__openat_2)(dirfd, path, flags);
}

int __openat64_2(int dirfd, const char *path, int flags)
{
    if (const auto node = deviceNode(path))
        return openDevice(*node, flags);
    return ZARNSIM_NEXT(__openat64_2)(dirfd, path, flags);
}

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
    const int saved = errno;
    return int(
        finish(detail::ioctl(fd, uint32_t(request), reinterpret_cast<unsigned long>(argument)), saved));
}

int close(int fd)
{
    if (isEmulated(fd))
        detail::closeDescriptor(fd);
    return ZARNSIM_NEXT(close)(fd);
}

int dup(int fd) noexcept
{
    if (!isEmulated(fd))
        return ZARNSIM_NEXT(dup)(fd);
    return adoptCopy(fd, ZARNSIM_NEXT(dup)(fd));
}

int dup2(int fd, int target) noexcept
{
    if (!isEmulated(fd) && !isEmulated(target))
        return ZARNSIM_NEXT(dup2)(fd, target);
    return duplicateOnto(fd, target, [&] { return ZARNSIM_NEXT(dup2)(fd, target); });
}

int dup3(int fd, int target, int flags) noexcept
{
    if (!isEmulated(fd) && !isEmulated(target))
        return ZARNSIM_NEXT(dup3)(fd, target, flags);
    return duplicateOnto(fd, target, [&] { return ZARNSIM_NEXT(dup3)(fd, target, flags); });
}

int fcntl(int fd, int command, ...)
{
    va_list arguments;
    va_start(arguments, command);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    if (!isEmulated(fd))
        return ZARNSIM_NEXT(fcntl)(fd, command, argument);
    return fcntlDevice(ZARNSIM_NEXT(fcntl), fd, command, argument);
}

int fcntl64(int fd, int command, ...)
{
    va_list arguments;
    va_start(arguments, command);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    if (!isEmulated(fd))
        return ZARNSIM_NEXT(fcntl64)(fd, command, argument);
    return fcntlDevice(ZARNSIM_NEXT(fcntl64), fd, command, argument);
}

} // extern "C"
