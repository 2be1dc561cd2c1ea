// The interposers that make and unmake descriptors of the device nodes:
// open and its variants, close, dup and fcntl.

#include "shim.h"

#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <unistd.h>

extern "C" {
// glibc declares these only for fortified builds.
int __open_2(const char *path, int flags);
int __open64_2(const char *path, int flags);
int __openat_2(int dirfd, const char *path, int flags);
int __openat64_2(int dirfd, const char *path, int flags);
}

namespace {

using namespace zarnsim;
using zarnsim::detail::isEmulated;
using zarnsim::shim::finish;

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

int openDevice(Node node, int flags)
{
    return int(finish([&] { return detail::openNode(node, flags); }));
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

int flock(int fd, int operation)
{
    return ZARNSIM_NEXT(flock)(fd, operation);
}

int fstat(int fd, struct stat *status)
{
    return ZARNSIM_NEXT(fstat)(fd, status);
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
