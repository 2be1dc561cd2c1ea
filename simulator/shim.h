#pragma once

// What the interposers share. Each one asks a per-descriptor flag first, so
// that ordinary files, sockets and pipes go straight to the next definition
// without a lock; only descriptors of the two device nodes reach the device.
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
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

namespace zarnsim::shim {

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
        static const auto function = zarnsim::shim::next<decltype(&::name)>(#name);                          \
        return function;                                                                                     \
    }())

// Makes a device call: errno changes only on failure, whatever the device did
// inside. A call that is to hang does it here, outside the device lock. A call
// is busy for its busy time from its start: the time the simulation itself
// takes is part of it, as a device's own work is part of a device's.
template <typename Call> long finish(Call call)
{
    const int savedErrno = errno;
    const auto began = std::chrono::steady_clock::now();
    const detail::Outcome outcome = call();
    if (outcome.hang)
        detail::blockForever();
    if (outcome.result < 0) {
        errno = outcome.error;
        return -1;
    }
    const auto worked = std::chrono::steady_clock::now() - began;
    detail::settle(outcome.busyNs,
                   uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(worked).count()));
    errno = savedErrno;
    return outcome.result;
}

} // namespace zarnsim::shim
