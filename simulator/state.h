#pragma once

// The device's state, one per process under one mutex, and the parts of the
// model that the sources behind device.h share.

#include "device.h"
#include "flash.h"

#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace zarnsim::detail {

inline constexpr uint32_t wordSize = 4;

struct OpenFile
{
    Node node = Node::Flash;
    int flags = 0;
    uint64_t position = 0;
    unsigned mailboxAnswers = 0;
    // flock() without a shared flash file: 0, LOCK_SH or LOCK_EX.
    int lock = 0;
    // With one: a descriptor of that file of this open's own, on which the
    // kernel keeps the lock, across processes and past a SIGKILL.
    int lockDescriptor = -1;

    OpenFile() = default;
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;
    ~OpenFile();
};

struct WeakWord
{
    uint32_t address;
    unsigned attempts;
    unsigned writes;
};

struct LosingWord
{
    enum class Phase { Armed, Losing, Healed };
    uint32_t address;
    uint32_t lostBits;
    Phase phase;
};

struct CallFault
{
    Op op;
    unsigned n;
    int error; // 0: the call hangs
};

struct Faults
{
    int nodeError[2] = {0, 0};
    bool unlockRefused = false;
    std::set<uint32_t> failingEraseAddresses;
    std::map<uint32_t, uint8_t> stuckBits;
    std::vector<WeakWord> weakWords;
    std::vector<LosingWord> losingWords;
    std::vector<CallFault> callFaults;
    uint32_t shortRead = 0;
    uint32_t shortWrite = 0;
    unsigned failingMailboxRequest = 0;
    int mailboxError = EIO;
    unsigned cutAt = 0; // the call on the flash in which the power goes; 0: never
    uint64_t cutSeed = 0;
};

// Plausible answers of an installed system: software 1.2.34, hardware built
// 2014-03-12 09:00:00 UTC, PID 1.3.20. None of them equals the values that the
// utility substitutes when the driver flags its first answer.
struct Mailbox
{
    uint32_t answers[3] = {0x04030201, 1394614800, 0x00020301};
    uint32_t flags = 0;
    std::optional<uint32_t> laterFlags;
    unsigned requests = 0;
};

struct State
{
    std::mutex mutex;
    std::condition_variable lockReleased; // an in-process flock() lock went
    std::unique_ptr<Flash> flash = processFlash();
    std::string backingFile;
    bool unlocked = false;
    std::unordered_map<int, std::shared_ptr<OpenFile>> files;
    Faults faults;
    unsigned flashCalls[4] = {}; // lseek, read, write, erase requests; see countFlashCall()
    unsigned cutCalls = 0;       // every ioctl, lseek, read and write on the flash; see cutsPower()
    Mailbox mailbox;
    bool recording = true;
    std::vector<Call> calls;
    Timing timing;

    void note(const Call &call)
    {
        if (recording)
            calls.push_back(call);
    }
};

State &state();

inline std::shared_ptr<OpenFile> find(State &s, int fd)
{
    const auto it = s.files.find(fd);
    return it == s.files.end() ? nullptr : it->second;
}

inline Outcome failure(int error)
{
    Outcome outcome;
    outcome.result = -1;
    outcome.error = error;
    return outcome;
}

// faults.cpp: the flash with the faults of its cells, and the faults of calls.
void applyStuckBits(State &s, uint64_t address, uint64_t length);
void eraseRange(State &s, uint32_t address, uint64_t length);
void programWithFaults(State &s, uint32_t address, const uint8_t *data, uint64_t length);
// Counts a call of op on the flash; what it must do instead, if anything.
std::optional<Outcome> countFlashCall(State &s, Op op);
uint64_t shortened(const State &s, Op op, uint64_t size);

// cut.cpp: the power cut. cutsPower() counts a call on the flash and tells
// whether it is the one the power goes in; the call then tears what it would
// have done through tearWrite() or tearErase(), or nothing, and ends in
// powerCut(), which never returns.
bool cutsPower(State &s);
void tearWrite(State &s, uint32_t address, const uint8_t *data, uint64_t length);
void tearErase(State &s, uint32_t address, uint64_t length);
[[noreturn]] void powerCut(State &s, Call &call);

// mailbox.cpp
Outcome mailboxIoctl(State &s, OpenFile &file, Call &call, uint32_t request, unsigned long argument);

// timing.cpp
uint64_t transferNs(uint32_t perKiBUs, uint32_t singleWordUs, uint64_t bytes);
uint64_t eraseNs(const Timing &timing);
void addBusy(uint64_t ns);
void resetTiming(State &s);

// record.cpp
void writeRecordFile(const State &s);

// locks.cpp
void releaseLocksOf(State &s, const OpenFile &file); // a descriptor of file has gone

} // namespace zarnsim::detail
