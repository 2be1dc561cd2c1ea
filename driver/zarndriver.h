#pragma once

#include <sys/types.h>

// What the ZARN kernel driver expects of its callers: the two nodes, the
// request codes and the flash geometry. Written once, here, for the engine and
// the version query alike.
namespace zarndriver {

inline constexpr char flashPath[] = "/dev/zarn_flash";
inline constexpr char mailboxPath[] = "/dev/zarn_mailbox";

inline constexpr unsigned long flashIocUnlock = 0x40084232;
inline constexpr unsigned long flashIocErasePage = 0x4004423C;
inline constexpr unsigned long mailboxIocRequest = 0xC008420A;

// Nine characters and the NUL the driver reads up to.
inline constexpr char unlockPhrase[] = "heedful!!";

inline constexpr u_int32_t pageSize = 0x20000; // the unit of erasure
inline constexpr u_int32_t blockSize = 1024;   // the unit of bulk reads and writes
inline constexpr u_int32_t wordSize = 4;

} // namespace zarndriver
