#pragma once

// The device model as the shim sees it. The shim calls these only for
// descriptors it has marked as emulated.

#include "zarnsim.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace zarnsim::detail {

// Descriptors at or above this number are never emulated; opening a node
// that would need one fails with EMFILE.
inline constexpr int trackedDescriptors = 1 << 20;

// One flag per descriptor number, so that ordinary descriptors pass through
// the shim with one relaxed load and no lock.
extern std::atomic<uint8_t> emulated[trackedDescriptors];

inline bool isEmulated(int fd)
{
    return fd >= 0 && fd < trackedDescriptors && emulated[fd].load(std::memory_order_acquire) != 0;
}

// What a device call did: result >= 0 on success, else -1 with error set.
struct Outcome
{
    long result = 0;
    int error = 0;
    uint64_t busyNs = 0; // how long the device was busy with the call
    bool hang = false;   // the call must never return (hangFlashCall)
};

Outcome openNode(Node node, int flags);
Outcome closeDescriptor(int fd); // drops the entry; the caller closes the real descriptor
bool adopt(int fd, int copy);    // copy (a real duplicate of fd) shares fd's open file
void forget(int fd);             // fd is about to be replaced (dup2 onto it)
Outcome ioctl(int fd, uint32_t request, unsigned long argument);
Outcome lseek(int fd, long offset, int whence);
Outcome read(int fd, void *buffer, size_t size, std::optional<long> at);
Outcome write(int fd, const void *buffer, size_t size, std::optional<long> at);
std::optional<int> statusFlags(int fd); // F_GETFL
void setStatusFlags(int fd, int flags); // F_SETFL
Outcome flock(int fd, int operation);   // may wait, outside the device lock
bool fileStatus(int fd, struct stat &status);

// Sleeps for the busy time of a call less the time it has already taken
// (workedNs), outside the device lock.
void settle(uint64_t busyNs, uint64_t workedNs);
// Where a hanging call stays, outside the device lock.
[[noreturn]] void blockForever();

// Where shutdown() writes the record, one describe() line per call; empty: nowhere.
std::string &recordFile();
// Where shutdown() writes the device's busy nanoseconds; empty: nowhere.
std::string &busyFile();
void writeBusyFile();

// Holds the device lock across fork(), so that a child never inherits it
// held by a thread that does not exist there.
void installForkHandlers();

// Writes the record file, if any (process exit).
void shutdown();

} // namespace zarnsim::detail
