#include "device.h"

#include "realcalls.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace zarnsim {

namespace detail {

std::atomic<uint8_t> emulated[trackedDescriptors];

namespace {

constexpr uint64_t addressSpace = uint64_t(1) << 32;
constexpr uint8_t erasedByte = 0xFF;
constexpr uint32_t wordSize = 4;
constexpr uint64_t bytesPerKiB = 1024;
constexpr uint64_t nsPerUs = 1000;

constexpr char unlockPhrase[] = "heedful!!";
// How far an unlock argument is scanned for its terminating NUL.
constexpr size_t longestPhrase = 256;

constexpr uint32_t mailboxSoftwareVersion = 0x101;
constexpr uint32_t mailboxHardwareTimestamp = 0x201;
constexpr uint32_t mailboxPidVersion = 0x301;
constexpr int mailboxCommandWord = 0;
constexpr int mailboxValueWord = 1;
constexpr int mailboxFirstReservedWord = 2;

// Plausible answers of an installed system: software 1.2.34, hardware built
// 2014-03-12 09:00:00 UTC, PID 1.3.20. None of them equals the values that the
// utility substitutes when the driver flags its first answer.
constexpr uint32_t defaultSoftwareVersion = 0x04030201;
constexpr uint32_t defaultHardwareTimestamp = 1394614800;
constexpr uint32_t defaultPidVersion = 0x00020301;

constexpr char backingMagic[] = "ZARNSIM-FLASH-1\n";
constexpr size_t backingMagicSize = sizeof(backingMagic) - 1;

// Sparse storage of the whole 32-bit address space in chunks; a missing
// chunk is erased. Chunks are large enough that a 1 KiB transfer touches at
// most two of them and a page erase can drop whole chunks.
class Flash
{
public:
    static constexpr unsigned chunkBits = 16;
    static constexpr uint32_t chunkSize = uint32_t(1) << chunkBits;
    static constexpr size_t chunkCount = size_t(1) << (32 - chunkBits);

    Flash() : chunks(chunkCount) {}

    void read(uint32_t address, uint8_t *out, uint64_t length) const
    {
        pieces(address, length, [&](size_t index, uint32_t offset, uint32_t n, uint64_t done) {
            if (const auto &chunk = chunks[index])
                std::memcpy(out + done, chunk.get() + offset, n);
            else
                std::memset(out + done, erasedByte, n);
        });
    }

    // The physics of NOR flash: programming only ever clears bits.
    void program(uint32_t address, const uint8_t *in, uint64_t length)
    {
        pieces(address, length, [&](size_t index, uint32_t offset, uint32_t n, uint64_t done) {
            uint8_t *target = writable(index) + offset;
            const uint8_t *source = in + done;
            for (uint32_t i = 0; i < n; ++i)
                target[i] &= source[i];
        });
    }

    void assign(uint32_t address, const uint8_t *in, uint64_t length)
    {
        pieces(address, length, [&](size_t index, uint32_t offset, uint32_t n, uint64_t done) {
            std::memcpy(writable(index) + offset, in + done, n);
        });
    }

    void erase(uint32_t address, uint64_t length)
    {
        pieces(address, length, [&](size_t index, uint32_t offset, uint32_t n, uint64_t) {
            if (n == chunkSize)
                chunks[index].reset();
            else if (const auto &chunk = chunks[index])
                std::memset(chunk.get() + offset, erasedByte, n);
        });
    }

    uint8_t byte(uint32_t address) const
    {
        const auto &chunk = chunks[address >> chunkBits];
        return chunk ? chunk[address & (chunkSize - 1)] : erasedByte;
    }

    void setByte(uint32_t address, uint8_t value)
    {
        writable(address >> chunkBits)[address & (chunkSize - 1)] = value;
    }

    void clear()
    {
        for (auto &chunk : chunks)
            chunk.reset();
    }

    bool save(const std::string &path, std::string *error) const
    {
        const std::string temporary = path + ".tmp";
        std::FILE *file = std::fopen(temporary.c_str(), "wb");
        if (!file) {
            *error = "cannot write " + temporary + ": " + std::strerror(errno);
            return false;
        }
        bool ok = std::fwrite(backingMagic, 1, backingMagicSize, file) == backingMagicSize;
        for (size_t index = 0; ok && index < chunkCount; ++index) {
            const auto &chunk = chunks[index];
            if (!chunk || isErased(chunk.get()))
                continue;
            const uint32_t number = uint32_t(index);
            ok = std::fwrite(&number, sizeof number, 1, file) == 1 &&
                 std::fwrite(chunk.get(), 1, chunkSize, file) == chunkSize;
        }
        ok = std::fclose(file) == 0 && ok;
        if (ok && std::rename(temporary.c_str(), path.c_str()) != 0)
            ok = false;
        if (!ok) {
            *error = "cannot write " + path + ": " + std::strerror(errno);
            std::remove(temporary.c_str());
        }
        return ok;
    }

    // An absent file is an erased flash. On failure the flash is left erased.
    bool load(const std::string &path, std::string *error)
    {
        clear();
        std::FILE *file = std::fopen(path.c_str(), "rb");
        if (!file) {
            if (errno == ENOENT)
                return true;
            *error = "cannot read " + path + ": " + std::strerror(errno);
            return false;
        }
        char magic[backingMagicSize];
        bool ok = std::fread(magic, 1, backingMagicSize, file) == backingMagicSize &&
                  std::memcmp(magic, backingMagic, backingMagicSize) == 0;
        uint32_t number = 0;
        while (ok && std::fread(&number, sizeof number, 1, file) == 1) {
            ok = number < chunkCount && std::fread(writable(number), 1, chunkSize, file) == chunkSize;
        }
        ok = ok && !std::ferror(file);
        std::fclose(file);
        if (!ok) {
            clear();
            *error = path + " is not a simulated flash image (or is truncated)";
        }
        return ok;
    }

private:
    template <typename Visit> static void pieces(uint32_t address, uint64_t length, Visit visit)
    {
        uint64_t done = 0;
        while (done < length) {
            const uint64_t at = address + done;
            const size_t index = size_t(at >> chunkBits);
            const uint32_t offset = uint32_t(at & (chunkSize - 1));
            const uint32_t n = uint32_t(std::min<uint64_t>(chunkSize - offset, length - done));
            visit(index, offset, n, done);
            done += n;
        }
    }

    static bool isErased(const uint8_t *chunk)
    {
        return std::all_of(chunk, chunk + chunkSize, [](uint8_t b) { return b == erasedByte; });
    }

    uint8_t *writable(size_t index)
    {
        auto &chunk = chunks[index];
        if (!chunk) {
            chunk.reset(new uint8_t[chunkSize]);
            std::memset(chunk.get(), erasedByte, chunkSize);
        }
        return chunk.get();
    }

    std::vector<std::unique_ptr<uint8_t[]>> chunks;
};

struct OpenFile
{
    Node node = Node::Flash;
    int flags = 0;
    uint64_t position = 0;
    unsigned mailboxAnswers = 0;
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

struct Faults
{
    int nodeError[2] = {0, 0};
    bool unlockRefused = false;
    std::set<uint32_t> failingEraseAddresses;
    unsigned failingEraseRequest = 0;
    std::map<uint32_t, uint8_t> stuckBits;
    std::vector<WeakWord> weakWords;
    std::vector<LosingWord> losingWords;
    unsigned failingMailboxRequest = 0;
    int mailboxError = EIO;
};

struct State
{
    std::mutex mutex;
    Flash flash;
    bool unlocked = false;
    bool dirty = false;
    std::string backingFile;
    std::unordered_map<int, std::shared_ptr<OpenFile>> files;
    Faults faults;
    unsigned eraseRequests = 0;
    uint32_t answers[3] = {defaultSoftwareVersion, defaultHardwareTimestamp, defaultPidVersion};
    uint32_t mailboxFlags = 0;
    std::optional<uint32_t> mailboxLaterFlags;
    unsigned mailboxRequests = 0;
    bool recording = true;
    std::vector<Call> calls;
    Timing timing;

    void note(const Call &call)
    {
        if (recording)
            calls.push_back(call);
    }
};

// Never destroyed: descriptors may still be closed by exit handlers that run
// after static destructors.
State &state()
{
    static State *const instance = new State;
    return *instance;
}

std::atomic<uint64_t> busyTotal{0};
std::atomic<bool> sleeping{true};

Outcome failure(int error)
{
    Outcome outcome;
    outcome.result = -1;
    outcome.error = error;
    return outcome;
}

int nodeIndex(Node node)
{
    return node == Node::Flash ? 0 : 1;
}

bool overlaps(uint32_t word, uint64_t address, uint64_t length)
{
    return word < address + length && address < uint64_t(word) + wordSize;
}

uint64_t transferNs(uint32_t perKiBUs, uint32_t singleWordUs, uint64_t bytes)
{
    if (bytes == wordSize)
        return uint64_t(singleWordUs) * nsPerUs;
    return uint64_t(perKiBUs) * nsPerUs * bytes / bytesPerKiB;
}

void applyStuckBits(State &s, uint64_t address, uint64_t length)
{
    const auto &stuck = s.faults.stuckBits;
    for (auto it = stuck.lower_bound(uint32_t(address)); it != stuck.end() && it->first < address + length;
         ++it)
        s.flash.setByte(it->first, s.flash.byte(it->first) & uint8_t(~it->second));
}

void eraseRange(State &s, uint32_t address, uint64_t length)
{
    s.flash.erase(address, length);
    for (auto &word : s.faults.losingWords) {
        if (word.phase == LosingWord::Phase::Losing && overlaps(word.address, address, length))
            word.phase = LosingWord::Phase::Healed;
    }
    applyStuckBits(s, address, length);
    s.dirty = true;
}

void programWithFaults(State &s, uint32_t address, const uint8_t *data, uint64_t length)
{
    struct Kept
    {
        uint32_t address;
        uint8_t bytes[wordSize];
    };
    std::vector<Kept> kept;
    for (auto &word : s.faults.weakWords) {
        if (!overlaps(word.address, address, length))
            continue;
        if (++word.writes < word.attempts) {
            Kept k{word.address, {}};
            for (uint32_t i = 0; i < wordSize && uint64_t(word.address) + i < addressSpace; ++i)
                k.bytes[i] = s.flash.byte(word.address + i);
            kept.push_back(k);
        }
    }
    s.flash.program(address, data, length);
    for (const auto &k : kept) {
        for (uint32_t i = 0; i < wordSize && uint64_t(k.address) + i < addressSpace; ++i)
            s.flash.setByte(k.address + i, k.bytes[i]);
    }
    for (auto &word : s.faults.losingWords) {
        if (word.phase == LosingWord::Phase::Healed || !overlaps(word.address, address, length))
            continue;
        word.phase = LosingWord::Phase::Losing;
        for (uint32_t i = 0; i < wordSize && uint64_t(word.address) + i < addressSpace; ++i) {
            const uint8_t lost = uint8_t(word.lostBits >> (8 * i));
            s.flash.setByte(word.address + i, s.flash.byte(word.address + i) & uint8_t(~lost));
        }
    }
    s.dirty = true;
}

std::shared_ptr<OpenFile> find(State &s, int fd)
{
    const auto it = s.files.find(fd);
    return it == s.files.end() ? nullptr : it->second;
}

void saveBacking(State &s)
{
    if (s.backingFile.empty() || !s.dirty)
        return;
    std::string error;
    if (s.flash.save(s.backingFile, &error))
        s.dirty = false;
    else
        std::fprintf(stderr, "zarnsim: %s\n", error.c_str());
}

Outcome flashIoctl(State &s, Call &call, uint32_t request, unsigned long argument)
{
    if (request == flashIocUnlock) {
        if (argument == 0)
            return failure(EFAULT);
        const char *phrase = reinterpret_cast<const char *>(argument);
        call.phrase.assign(phrase, strnlen(phrase, longestPhrase));
        if (call.phrase != unlockPhrase || s.faults.unlockRefused)
            return failure(EACCES);
        s.unlocked = true;
        return {};
    }
    if (request == flashIocErasePage) {
        ++s.eraseRequests;
        const uint32_t address = uint32_t(argument);
        if (!s.unlocked)
            return failure(EPERM);
        if (s.faults.failingEraseAddresses.count(address) != 0 ||
            s.eraseRequests == s.faults.failingEraseRequest)
            return failure(EIO);
        eraseRange(s, address, std::min<uint64_t>(flashPageSize, addressSpace - address));
        Outcome outcome;
        outcome.busyNs = uint64_t(s.timing.pageEraseUs) * nsPerUs;
        return outcome;
    }
    return failure(ENOTTY);
}

Outcome mailboxIoctl(State &s, OpenFile &file, Call &call, uint32_t request, unsigned long argument)
{
    if (request != mailboxIocRequest)
        return failure(ENOTTY);
    if (argument == 0)
        return failure(EFAULT);
    auto *words = reinterpret_cast<uint32_t *>(argument);
    std::copy(words, words + call.mailboxWords.size(), call.mailboxWords.begin());
    call.command = words[mailboxCommandWord];
    if (++s.mailboxRequests == s.faults.failingMailboxRequest)
        return failure(s.faults.mailboxError);
    uint32_t value = 0;
    switch (call.command) {
    case mailboxSoftwareVersion:
        value = s.answers[0];
        break;
    case mailboxHardwareTimestamp:
        value = s.answers[1];
        break;
    case mailboxPidVersion:
        value = s.answers[2];
        break;
    default:
        return failure(EINVAL);
    }
    words[mailboxValueWord] = value;
    // The driver is free to scribble on the reserved words; this one does, so
    // that a caller who reuses an answered record without clearing it shows.
    std::fill(words + mailboxFirstReservedWord, words + call.mailboxWords.size(), mailboxReservedAnswer);
    if (++file.mailboxAnswers == 1)
        words[mailboxCommandWord] = s.mailboxFlags;
    else if (s.mailboxLaterFlags)
        words[mailboxCommandWord] = *s.mailboxLaterFlags;
    return {};
}

} // namespace

Outcome openNode(Node node, int flags)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    Call call;
    call.node = node;
    call.op = Op::Open;
    call.flags = flags;
    Outcome outcome;
    if (const int error = s.faults.nodeError[nodeIndex(node)]) {
        outcome = failure(error);
    } else {
        // A real descriptor keeps the number unique in the process, and any
        // call that slips past the shim fails on it instead of going astray.
        const int fd = real::open("/dev/null", O_PATH | (flags & O_CLOEXEC), 0);
        if (fd < 0) {
            outcome = failure(errno);
        } else if (fd >= trackedDescriptors) {
            real::close(fd);
            outcome = failure(EMFILE);
        } else {
            auto file = std::make_shared<OpenFile>();
            file->node = node;
            file->flags = flags;
            s.files[fd] = std::move(file);
            emulated[fd].store(1, std::memory_order_release);
            outcome.result = fd;
        }
    }
    call.result = outcome.result;
    call.error = outcome.error;
    s.note(call);
    return outcome;
}

Outcome closeDescriptor(int fd)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto it = s.files.find(fd);
    if (it == s.files.end())
        return failure(EBADF);
    emulated[fd].store(0, std::memory_order_release);
    const std::shared_ptr<OpenFile> file = it->second;
    s.files.erase(it);
    Call call;
    call.node = file->node;
    call.op = Op::Close;
    s.note(call);
    if (file->node == Node::Flash)
        saveBacking(s);
    return {};
}

bool adopt(int fd, int copy)
{
    if (copy < 0 || copy >= trackedDescriptors)
        return false;
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto file = find(s, fd);
    if (!file)
        return false;
    s.files[copy] = file;
    emulated[copy].store(1, std::memory_order_release);
    return true;
}

void forget(int fd)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto it = s.files.find(fd);
    if (it == s.files.end())
        return;
    emulated[fd].store(0, std::memory_order_release);
    Call call;
    call.node = it->second->node;
    call.op = Op::Close;
    s.note(call);
    s.files.erase(it);
}

Outcome ioctl(int fd, uint32_t request, unsigned long argument)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto file = find(s, fd);
    if (!file)
        return failure(EBADF);
    Call call;
    call.node = file->node;
    call.op = Op::Ioctl;
    call.request = request;
    call.argument = argument;
    const Outcome outcome = file->node == Node::Flash ? flashIoctl(s, call, request, argument)
                                                      : mailboxIoctl(s, *file, call, request, argument);
    busyTotal.fetch_add(outcome.busyNs, std::memory_order_relaxed);
    call.result = outcome.result;
    call.error = outcome.error;
    s.note(call);
    return outcome;
}

Outcome lseek(int fd, long offset, int whence)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto file = find(s, fd);
    if (!file)
        return failure(EBADF);
    Call call;
    call.node = file->node;
    call.op = Op::Lseek;
    call.address = uint32_t(offset);
    Outcome outcome;
    if (file->node == Node::Mailbox) {
        outcome = failure(ESPIPE);
    } else {
        int64_t base = -1;
        if (whence == SEEK_SET)
            base = 0;
        else if (whence == SEEK_CUR)
            base = int64_t(file->position);
        else if (whence == SEEK_END)
            base = int64_t(addressSpace);
        const int64_t target = base + offset;
        if (base < 0 || target < 0 || uint64_t(target) > addressSpace) {
            outcome = failure(EINVAL);
        } else {
            file->position = uint64_t(target);
            outcome.result = long(target);
            call.address = uint32_t(target);
        }
    }
    call.result = outcome.result;
    call.error = outcome.error;
    s.note(call);
    return outcome;
}

Outcome read(int fd, void *buffer, size_t size, std::optional<long> at)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto file = find(s, fd);
    if (!file)
        return failure(EBADF);
    const uint64_t position = at ? uint64_t(*at) : file->position;
    Call call;
    call.node = file->node;
    call.op = Op::Read;
    call.address = uint32_t(position);
    call.size = size;
    Outcome outcome;
    if (file->node == Node::Mailbox) {
        outcome = failure(EINVAL);
    } else if ((file->flags & O_ACCMODE) == O_WRONLY) {
        outcome = failure(EBADF);
    } else if (at && *at < 0) {
        outcome = failure(EINVAL);
    } else if (position < addressSpace) {
        const uint64_t n = std::min<uint64_t>(size, addressSpace - position);
        s.flash.read(uint32_t(position), static_cast<uint8_t *>(buffer), n);
        if (!at)
            file->position += n;
        outcome.result = long(n);
        outcome.busyNs = transferNs(s.timing.readPerKiBUs, s.timing.singleWordUs, n);
    }
    busyTotal.fetch_add(outcome.busyNs, std::memory_order_relaxed);
    call.result = outcome.result;
    call.error = outcome.error;
    s.note(call);
    return outcome;
}

Outcome write(int fd, const void *buffer, size_t size, std::optional<long> at)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto file = find(s, fd);
    if (!file)
        return failure(EBADF);
    const uint64_t position = at ? uint64_t(*at) : file->position;
    Call call;
    call.node = file->node;
    call.op = Op::Write;
    call.address = uint32_t(position);
    call.size = size;
    Outcome outcome;
    if (file->node == Node::Mailbox) {
        outcome = failure(EINVAL);
    } else if ((file->flags & O_ACCMODE) == O_RDONLY) {
        outcome = failure(EBADF);
    } else if (!s.unlocked) {
        outcome = failure(EPERM);
    } else if (at && *at < 0) {
        outcome = failure(EINVAL);
    } else if (size == 0) {
        outcome.result = 0;
    } else if (position >= addressSpace) {
        outcome = failure(ENOSPC);
    } else {
        const uint64_t n = std::min<uint64_t>(size, addressSpace - position);
        programWithFaults(s, uint32_t(position), static_cast<const uint8_t *>(buffer), n);
        if (!at)
            file->position += n;
        outcome.result = long(n);
        outcome.busyNs = transferNs(s.timing.programPerKiBUs, s.timing.singleWordUs, n);
    }
    busyTotal.fetch_add(outcome.busyNs, std::memory_order_relaxed);
    call.result = outcome.result;
    call.error = outcome.error;
    s.note(call);
    return outcome;
}

std::optional<int> statusFlags(int fd)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto file = find(s, fd);
    if (!file)
        return std::nullopt;
    return file->flags & ~(O_CREAT | O_EXCL | O_NOCTTY | O_TRUNC | O_CLOEXEC);
}

void setStatusFlags(int fd, int flags)
{
    constexpr int changeable = O_APPEND | O_ASYNC | O_DIRECT | O_NOATIME | O_NONBLOCK;
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (const auto file = find(s, fd))
        file->flags = (file->flags & ~changeable) | (flags & changeable);
}

void settle(uint64_t busyNs)
{
    // Short calls would oversleep badly one by one; a per-thread debt keeps
    // the total right while sleeping at most once a millisecond.
    constexpr int64_t leastSleepNs = 1000000;
    thread_local int64_t debtNs = 0;
    if (busyNs == 0 || !sleeping.load(std::memory_order_relaxed))
        return;
    debtNs += int64_t(busyNs);
    if (debtNs < leastSleepNs)
        return;
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::nanoseconds(debtNs));
    debtNs -= std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
                  .count();
}

void installForkHandlers()
{
    pthread_atfork([] { state().mutex.lock(); }, [] { state().mutex.unlock(); },
                   [] { state().mutex.unlock(); });
}

std::string &recordFile()
{
    static std::string *const path = new std::string;
    return *path;
}

void shutdown()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    saveBacking(s);
    const std::string &path = recordFile();
    if (path.empty())
        return;
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (!file) {
        std::fprintf(stderr, "zarnsim: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        return;
    }
    for (const Call &call : s.calls)
        std::fprintf(file, "%s\n", describe(call).c_str());
    std::fclose(file);
}

} // namespace detail

using detail::state;

void reset()
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    detail::saveBacking(s);
    s.backingFile.clear();
    s.flash.clear();
    s.unlocked = false;
    s.dirty = false;
    s.faults = detail::Faults();
    s.eraseRequests = 0;
    s.answers[0] = detail::defaultSoftwareVersion;
    s.answers[1] = detail::defaultHardwareTimestamp;
    s.answers[2] = detail::defaultPidVersion;
    s.mailboxFlags = 0;
    s.mailboxLaterFlags.reset();
    s.mailboxRequests = 0;
    s.recording = true;
    s.calls.clear();
    s.timing = Timing();
    detail::busyTotal.store(0);
    detail::sleeping.store(true);
}

std::vector<Call> record()
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.calls;
}

void clearRecord()
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.calls.clear();
}

void setRecording(bool on)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.recording = on;
}

std::vector<uint8_t> flashBytes(uint32_t address, uint32_t length)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::vector<uint8_t> bytes(std::min<uint64_t>(length, detail::addressSpace - address));
    s.flash.read(address, bytes.data(), bytes.size());
    return bytes;
}

void setFlashBytes(uint32_t address, const std::vector<uint8_t> &bytes)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.flash.assign(address, bytes.data(), std::min<uint64_t>(bytes.size(), detail::addressSpace - address));
    s.dirty = true;
}

bool unlocked()
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.unlocked;
}

void setNodeError(Node node, int error)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.faults.nodeError[detail::nodeIndex(node)] = error;
}

void setUnlockRefused(bool refused)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.faults.unlockRefused = refused;
}

void failEraseAt(uint32_t address)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.faults.failingEraseAddresses.insert(address);
}

void failEraseRequest(unsigned n)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.faults.failingEraseRequest = n;
}

void addStuckBits(uint32_t address, uint8_t mask)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.faults.stuckBits[address] |= mask;
    detail::applyStuckBits(s, address, 1);
}

void addWeakWord(uint32_t address, unsigned attempts)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.faults.weakWords.push_back({address, attempts, 0});
}

void addLosingWord(uint32_t address, uint32_t lostBits)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.faults.losingWords.push_back({address, lostBits, detail::LosingWord::Phase::Armed});
}

void setMailboxAnswers(uint32_t swVersion, uint32_t hwTimestamp, uint32_t pidVersion)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.answers[0] = swVersion;
    s.answers[1] = hwTimestamp;
    s.answers[2] = pidVersion;
}

void setMailboxFlags(uint32_t flags)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.mailboxFlags = flags;
}

void setMailboxLaterFlags(uint32_t flags)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.mailboxLaterFlags = flags;
}

void failMailboxRequest(unsigned n, int error)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.faults.failingMailboxRequest = n;
    s.faults.mailboxError = error;
}

Timing timingProfile(const std::string &name)
{
    // A NOR part of the kind the ZARN board carries; "demo" is slow enough
    // to watch an update of the sample file (about half a minute).
    if (name == "nor")
        return {200000, 400, 10, 20};
    if (name == "fast")
        return {20000, 40, 1, 2};
    if (name == "demo")
        return {400000, 10000, 2000, 20000};
    return {};
}

void setTiming(const Timing &timing)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.timing = timing;
}

uint64_t busyNanoseconds()
{
    return detail::busyTotal.load();
}

void resetBusy()
{
    detail::busyTotal.store(0);
}

void setSleeping(bool on)
{
    detail::sleeping.store(on);
}

bool setBackingFile(const std::string &path, std::string *error)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    detail::saveBacking(s);
    s.backingFile = path;
    s.dirty = false;
    if (path.empty())
        return true;
    std::string message;
    const bool ok = s.flash.load(path, &message);
    detail::applyStuckBits(s, 0, detail::addressSpace);
    if (!ok) {
        // Never overwrite a file that is not ours.
        s.backingFile.clear();
        if (error)
            *error = message;
    }
    return ok;
}

bool flushBackingFile(std::string *error)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.backingFile.empty() || !s.dirty)
        return true;
    std::string message;
    const bool ok = s.flash.save(s.backingFile, &message);
    if (ok)
        s.dirty = false;
    else if (error)
        *error = message;
    return ok;
}

std::string describe(const Call &call)
{
    static const char *const ops[] = {"open", "close", "ioctl", "lseek", "read", "write"};
    char text[512];
    const char *node = call.node == Node::Flash ? "flash" : "mailbox";
    const char *op = ops[int(call.op)];
    int n = 0;
    switch (call.op) {
    case Op::Open:
        n = std::snprintf(text, sizeof text, "%s %s flags=0x%x", node, op, unsigned(call.flags));
        break;
    case Op::Close:
        n = std::snprintf(text, sizeof text, "%s %s", node, op);
        break;
    case Op::Ioctl:
        if (call.node == Node::Mailbox) {
            n = std::snprintf(text, sizeof text, "%s %s request=0x%x command=0x%x", node, op, call.request,
                              call.command);
            // A record that arrived with more than its command says so.
            const auto &w = call.mailboxWords;
            if (n > 0 && std::any_of(w.begin() + 1, w.end(), [](uint32_t word) { return word != 0; }))
                n += std::snprintf(text + n, sizeof text - size_t(n),
                                   " value=0x%x reserved=0x%x,0x%x,0x%x,0x%x,0x%x,0x%x", w[1], w[2], w[3],
                                   w[4], w[5], w[6], w[7]);
        } else if (call.request == flashIocUnlock)
            n = std::snprintf(text, sizeof text, "%s %s request=0x%x phrase=\"%.200s\"", node, op,
                              call.request, call.phrase.c_str());
        else
            n = std::snprintf(text, sizeof text, "%s %s request=0x%x argument=0x%llx", node, op, call.request,
                              static_cast<unsigned long long>(call.argument));
        break;
    case Op::Lseek:
        n = std::snprintf(text, sizeof text, "%s %s address=0x%x", node, op, call.address);
        break;
    case Op::Read:
    case Op::Write:
        n = std::snprintf(text, sizeof text, "%s %s address=0x%x size=%llu", node, op, call.address,
                          static_cast<unsigned long long>(call.size));
        break;
    }
    std::string line(text, size_t(std::clamp(n, 0, int(sizeof text) - 1)));
    line += " result=" + std::to_string(call.result);
    if (call.result < 0)
        line += std::string(" errno=") + std::to_string(call.error);
    return line;
}

} // namespace zarnsim
