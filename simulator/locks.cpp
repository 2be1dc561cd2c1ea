// flock() and fstat() on the device nodes, so that a program can hold the
// flash for itself for a whole update and others can find out who holds it.
//
// With a shared flash file each open of the flash locks a descriptor of that
// file of its own, and the kernel decides between processes, and lets go when
// the last descriptor closes or the process dies. Otherwise the locks are kept
// here, with the kernel's rules: a lock belongs to the open (its dup()s share
// it; two opens in one process conflict).

#include "realcalls.h"
#include "state.h"

#include <sys/file.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace zarnsim::detail {

namespace {

// The numbers of the nodes when no shared file gives them: devtmpfs's device,
// and a major number of those left for local use.
constexpr unsigned nodeDeviceMajor = 0;
constexpr unsigned nodeDeviceMinor = 5;
constexpr unsigned driverMajor = 240;

bool heldElsewhere(const State &s, const OpenFile &file, int kind)
{
    for (const auto &entry : s.files) {
        const OpenFile &other = *entry.second;
        if (&other != &file && other.node == file.node && other.lockDescriptor < 0 && other.lock != 0 &&
            (kind == LOCK_EX || other.lock == LOCK_EX))
            return true;
    }
    return false;
}

} // namespace

OpenFile::~OpenFile()
{
    if (lockDescriptor >= 0)
        real::close(lockDescriptor);
}

void releaseLocksOf(State &s, const OpenFile &file)
{
    if (file.lock != 0)
        s.lockReleased.notify_all();
}

Outcome flock(int fd, int operation)
{
    const int kind = operation & ~LOCK_NB;
    if (kind != LOCK_SH && kind != LOCK_EX && kind != LOCK_UN)
        return failure(EINVAL);
    State &s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    const auto file = find(s, fd);
    if (!file)
        return failure(EBADF);
    if (file->lockDescriptor >= 0) {
        // The kernel may wait: other threads must go on meanwhile.
        lock.unlock();
        return real::flock(file->lockDescriptor, operation) == 0 ? Outcome() : failure(errno);
    }
    // A lock that changes kind lets go first, and stays let go if the new
    // kind cannot be had, as the kernel's does.
    if (file->lock != 0) {
        file->lock = 0;
        s.lockReleased.notify_all();
    }
    if (kind == LOCK_UN)
        return {};
    while (heldElsewhere(s, *file, kind)) {
        if (operation & LOCK_NB)
            return failure(EWOULDBLOCK);
        s.lockReleased.wait(lock);
    }
    file->lock = kind;
    return {};
}

// A character node readable and writable by its owner and group. With a
// shared flash file it has that file's device and inode: /proc/locks lists
// the locks taken on the file by those numbers, as it lists a node's by its own.
bool fileStatus(int fd, struct stat &status)
{
    State &s = state();
    std::shared_ptr<OpenFile> file;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        file = find(s, fd);
    }
    if (!file)
        return false;
    const unsigned node = file->node == Node::Flash ? 0 : 1;
    status = {};
    status.st_mode = S_IFCHR | 0660;
    status.st_nlink = 1;
    status.st_rdev = makedev(driverMajor, node);
    status.st_blksize = 4096;
    status.st_dev = makedev(nodeDeviceMajor, nodeDeviceMinor);
    status.st_ino = 1 + node;
    struct stat shared;
    if (file->lockDescriptor >= 0 && real::fstat(file->lockDescriptor, &shared) == 0) {
        status.st_dev = shared.st_dev;
        status.st_ino = shared.st_ino;
    }
    return true;
}

} // namespace zarnsim::detail
