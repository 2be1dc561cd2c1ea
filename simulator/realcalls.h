#pragma once

// The definitions that the shim hides: the next ones in the lookup order
// (normally glibc's). The device model uses them for the descriptors it
// reserves, so that it never recurses into its own interposers.

#include <sys/stat.h>
#include <sys/types.h>

namespace zarnsim::real {

int open(const char *path, int flags, mode_t mode);
int close(int fd);
int dup(int fd);
int dup2(int fd, int target);
int dup3(int fd, int target, int flags);
int fcntl(int fd, int command, void *argument);
int flock(int fd, int operation);
int fstat(int fd, struct stat *status);

} // namespace zarnsim::real
