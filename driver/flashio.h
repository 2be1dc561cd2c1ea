#pragma once

#include <cstddef>
#include <QString>
#include <sys/types.h>

// The flash device's calls with their results looked at: a short transfer is
// continued, EINTR is retried, and a failure comes back as its cause. Each
// call is made exactly as the driver has always seen it when it succeeds at
// once, so a healthy run's calls are unchanged.
namespace flashio {

// Results: 0 when the whole call succeeded, otherwise the errno of the failure
// or noProgress when the device moved no byte without saying why.
inline constexpr int noProgress = -1;

int seek(int fd, u_int32_t address);
// Makes one call even for size 0, as the remainder write always has.
int writeAll(int fd, const void *data, size_t size);
int readAll(int fd, void *data, size_t size);
int erasePage(int fd, u_int32_t address);
int unlock(int fd);

// "Error <operation> Flash memory at 0x<address>: <cause>", the status line of
// a failed device call.
QString failureLine(const char *operation, u_int32_t address, int error);
QString causeText(int error);

// Why a device node could not be opened, for the operator, or empty when the
// node is missing (the driver is not loaded), which the established messages
// already say. Permission denied names the remedy: the group zarn.
QString openFailureCause(int error);

} // namespace flashio
