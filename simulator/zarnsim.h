#pragma once

// Simulated ZARN device. The shared library libzarnsim interposes open, ioctl,
// lseek, read, write, close, flock, fstat (and their glibc variants) for the two
// device nodes and passes every other descriptor through untouched. Tests link it first (or
// preload it) and drive it through this interface; the demo and the benchmarks
// preload it and configure it from the environment (see simulator/README.md).
//
// Every function here is safe to call from any thread.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zarnsim {

// The driver's interface. The simulator keeps its own copy of these on purpose
// and never takes them from the product's sources: it stands for the driver,
// so a product that drifts from them must fail against it, not follow along.
inline constexpr char flashPath[] = "/dev/zarn_flash";
inline constexpr char mailboxPath[] = "/dev/zarn_mailbox";

inline constexpr uint32_t flashIocUnlock = 0x40084232;
inline constexpr uint32_t flashIocErasePage = 0x4004423C;
inline constexpr uint32_t mailboxIocRequest = 0xC008420A;
inline constexpr uint32_t flashPageSize = 0x20000;
inline constexpr char unlockPhrase[] = "heedful!!";
// What the mailbox leaves in each of the six reserved words of every answer.
inline constexpr uint32_t mailboxReservedAnswer = 0xA5A5A5A5;

enum class Node { Flash, Mailbox };
enum class Op { Open, Close, Ioctl, Lseek, Read, Write };

// One call made on a device node, as the device saw it.
struct Call
{
    Node node = Node::Flash;
    Op op = Op::Open;
    int flags = 0;         // Open: the flags passed
    uint32_t address = 0;  // Lseek: the new position; Read/Write: the position before the transfer
    uint64_t size = 0;     // Read/Write: bytes asked for
    uint32_t request = 0;  // Ioctl: the request code, low 32 bits
    uint64_t argument = 0; // Ioctl: the argument value itself (erase: the flash address)
    uint32_t command = 0;  // Ioctl on the mailbox: the command word the caller put in the record
    // Ioctl on the mailbox: the whole record as the caller passed it (command,
    // value, six reserved words), before the device answered into it.
    std::array<uint32_t, 8> mailboxWords{};
    std::string phrase; // Ioctl unlock: the NUL-terminated text the argument points to
    long result = 0;    // what the call returned (-1 with errno on failure)
    int error = 0;      // the errno of a failed call
    bool cut = false;   // the power went during the call (cutPower): it has no result, and is the last
};

// A fresh device: flash all 0xFF and locked, both nodes present, the default
// mailbox answers, no faults, zero timing, an empty record, no backing file
// (the flash is this process's own again).
void reset();

std::vector<Call> record();
void clearRecord();
void setRecording(bool on); // the benchmarks switch the record off

// Flash content, bypassing the programming model and the faults.
std::vector<uint8_t> flashBytes(uint32_t address, uint32_t length);
void setFlashBytes(uint32_t address, const std::vector<uint8_t> &bytes);
bool unlocked();

// Faults. Each stays in force until reset().
void setNodeError(Node node, int error); // 0: present; ENOENT, EACCES, ...: open fails with it
void setUnlockRefused(bool refused);
void failEraseAt(uint32_t address);                    // every erase request for this address fails
void failEraseRequest(unsigned n);                     // the n-th erase request (counted from 1) fails
void addStuckBits(uint32_t address, uint8_t mask);     // these bits of the byte read 0 whatever happens
void addWeakWord(uint32_t address, unsigned attempts); // the word holds only on the attempts-th write
// The first write that reaches the word also clears lostBits; later writes,
// after the page has been erased again, program normally.
void addLosingWord(uint32_t address, uint32_t lostBits);

// Faults on the calls a program makes on the flash node. op is Op::Lseek,
// Op::Read, Op::Write or Op::Ioctl (of which only erase requests count); calls
// are counted per op from 1 since reset(), in this process, pread and pwrite
// with read and write. Several may be set; failEraseRequest(n) is
// failFlashCall(Op::Ioctl, n, EIO).
void failFlashCall(Op op, unsigned n, int error); // the n-th call does nothing and fails with error
// Reads (Op::Read) or writes (Op::Write) move at most maxBytes a call, and
// return the short count, as a driver may; 0: no limit.
void setShortTransfers(Op op, uint32_t maxBytes);
// The n-th call does nothing and never returns: its thread blocks for good,
// outside the device, so that other threads and processes go on. It is not
// in the record, having no result.
void hangFlashCall(Op op, unsigned n);
// A power cut in the n-th call on the flash node, counting every ioctl (unlock
// and erase requests alike), lseek, read and write (pread and pwrite
// included) from 1 since reset(), whatever their op and result; opens,
// closes, locks and the mailbox do not count. The call is torn: a write
// programs a prefix of its bytes, fewer than all, and part of the next byte's
// bits; an erase sets some 4 KiB pieces of its page to 0xFF and leaves the
// others; any other call does what it would have done. Then the record file
// is written (the torn call last) and the process kills itself with SIGKILL:
// nothing after the call runs. The choices of the tear depend on seed and n
// alone. 0: no cut.
void cutPower(unsigned n, uint64_t seed = 0);

// Mailbox.
void setMailboxAnswers(uint32_t swVersion, uint32_t hwTimestamp, uint32_t pidVersion);
void setMailboxFlags(uint32_t flags); // bits left in command after the first answer
// Bits left in command after every later answer on the same descriptor. Until
// this is called, later answers leave command as the caller put it; pass the
// same bits to both to have them after every answer.
void setMailboxLaterFlags(uint32_t flags);
void failMailboxRequest(unsigned n, int error); // the n-th request (counted from 1) fails

// Timing: how long the device itself is busy per operation. All zero by default.
struct Timing
{
    uint32_t pageEraseUs = 0;
    uint32_t programPerKiBUs = 0;
    uint32_t readPerKiBUs = 0;
    uint32_t singleWordUs = 0;
};
Timing timingProfile(const std::string &name); // "zero", "nor", "fast", "demo"
void setTiming(const Timing &timing);
uint64_t busyNanoseconds(); // device busy time accounted since the last reset()/resetBusy()
void resetBusy();
// Whether a call really waits for its busy time (the default) or only accounts it.
void setSleeping(bool on);

// A flash shared between processes. From now on the flash is the content of
// the file at path, mapped and written through on every call, so that every
// process using the same path sees one flash and a process killed at any
// point leaves what it had programmed, as a power cut would. An absent file
// is created erased. Each flash open also takes its flock() locks on that file,
// so that processes exclude each other as on the real node. A file that is
// not such a flash image is left alone and not used; the message says why,
// and the flash is this process's own again, erased. An empty path detaches
// likewise. flushBackingFile() pushes the content to the disk.
bool setBackingFile(const std::string &path, std::string *error = nullptr);
bool flushBackingFile(std::string *error = nullptr);

// Applies the ZARNSIM_* variables (simulator/README.md) on top of the current
// state; done once when the library loads. One message per value it rejected.
std::vector<std::string> configureFromEnvironment();

// A call as one line of text, as the record file (ZARNSIM_RECORD_FILE) has it.
std::string describe(const Call &call);

} // namespace zarnsim
