// The device calls the shim passes on, the flash node's own requests, and the
// device-wide parts of the test interface.

#include "device.h"

#include "realcalls.h"
#include "state.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>

namespace zarnsim {

namespace detail {

std::atomic<uint8_t> emulated[trackedDescriptors];

// Never destroyed: descriptors may still be closed by exit handlers that run
// after static destructors.
State &state()
{
    static State *const instance = new State;
    return *instance;
}

namespace {

// How far an unlock argument is scanned for its terminating NUL.
constexpr size_t longestPhrase = 256;

// cut: the power goes during this call; an erase is then torn.
Outcome flashIoctl(State &s, Call &call, uint32_t request, unsigned long argument, bool cut)
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
        if (const auto fault = countFlashCall(s, Op::Ioctl))
            return *fault;
        const uint32_t address = uint32_t(argument);
        if (!s.unlocked)
            return failure(EPERM);
        if (s.faults.failingEraseAddresses.count(address) != 0)
            return failure(EIO);
        const uint64_t length = std::min<uint64_t>(flashPageSize, addressSpace - address);
        if (cut)
            tearErase(s, address, length);
        else
            eraseRange(s, address, length);
        Outcome outcome;
        outcome.busyNs = eraseNs(s.timing);
        return outcome;
    }
    return failure(ENOTTY);
}

// Notes the call with its outcome, unless it is to hang: that one never ends.
Outcome finish(State &s, Call &call, const Outcome &outcome)
{
    if (outcome.hang)
        return outcome;
    addBusy(outcome.busyNs);
    call.result = outcome.result;
    call.error = outcome.error;
    s.note(call);
    return outcome;
}

Call callOn(const OpenFile &file, Op op)
{
    Call call;
    call.node = file.node;
    call.op = op;
    return call;
}

// The part that read and write share: the descriptor, the position, the
// checks that do not depend on the direction, and the faults of the call.
// Runs transfer(position, bytes, cut) when all passed; with cut the power
// goes during the call, and the process with it.
template <typename Transfer>
Outcome transferCall(int fd, Op op, size_t size, std::optional<long> at, Transfer transfer)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto file = find(s, fd);
    if (!file)
        return failure(EBADF);
    const uint64_t position = at ? uint64_t(*at) : file->position;
    Call call = callOn(*file, op);
    call.address = uint32_t(position);
    call.size = size;
    const int forbidden = op == Op::Read ? O_WRONLY : O_RDONLY;
    const bool cut = file->node == Node::Flash && cutsPower(s);
    Outcome outcome;
    if (file->node == Node::Mailbox) {
        outcome = failure(EINVAL);
    } else if (const auto fault = countFlashCall(s, op)) {
        outcome = *fault;
    } else if ((file->flags & O_ACCMODE) == forbidden) {
        outcome = failure(EBADF);
    } else if (op == Op::Write && !s.unlocked) {
        outcome = failure(EPERM);
    } else if (at && *at < 0) {
        outcome = failure(EINVAL);
    } else {
        outcome = transfer(s, position, shortened(s, op, size), cut);
        if (!at && outcome.result > 0)
            file->position += uint64_t(outcome.result);
    }
    if (cut)
        powerCut(s, call);
    return finish(s, call, outcome);
}

} // namespace

Outcome openNode(Node node, int flags)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto file = std::make_shared<OpenFile>();
    file->node = node;
    file->flags = flags;
    Call call = callOn(*file, Op::Open);
    call.flags = flags;
    // A real descriptor keeps the number unique in the process, and any call
    // that slips past the shim fails on it instead of going astray. With a
    // shared flash file, a descriptor of that file carries the open's locks.
    Outcome outcome;
    int fd = -1;
    if (const int error = s.faults.nodeError[node == Node::Flash ? 0 : 1]) {
        outcome = failure(error);
    } else if (node == Node::Flash && !s.backingFile.empty() &&
               (file->lockDescriptor = s.flash->openLockDescriptor()) < 0) {
        outcome = failure(errno);
    } else if ((fd = real::open("/dev/null", O_PATH | (flags & O_CLOEXEC), 0)) < 0) {
        outcome = failure(errno);
    } else if (fd >= trackedDescriptors) {
        real::close(fd);
        outcome = failure(EMFILE);
    } else {
        s.files[fd] = std::move(file);
        emulated[fd].store(1, std::memory_order_release);
        outcome.result = fd;
    }
    return finish(s, call, outcome);
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
    releaseLocksOf(s, *file);
    s.note(callOn(*file, Op::Close));
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
    const std::shared_ptr<OpenFile> file = it->second;
    s.files.erase(it);
    releaseLocksOf(s, *file);
    s.note(callOn(*file, Op::Close));
}

Outcome ioctl(int fd, uint32_t request, unsigned long argument)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto file = find(s, fd);
    if (!file)
        return failure(EBADF);
    Call call = callOn(*file, Op::Ioctl);
    call.request = request;
    call.argument = argument;
    const bool cut = file->node == Node::Flash && cutsPower(s);
    const Outcome outcome = file->node == Node::Flash ? flashIoctl(s, call, request, argument, cut)
                                                      : mailboxIoctl(s, *file, call, request, argument);
    if (cut)
        powerCut(s, call);
    return finish(s, call, outcome);
}

Outcome lseek(int fd, long offset, int whence)
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    const auto file = find(s, fd);
    if (!file)
        return failure(EBADF);
    Call call = callOn(*file, Op::Lseek);
    call.address = uint32_t(offset);
    const int64_t base = whence == SEEK_SET   ? 0
                         : whence == SEEK_CUR ? int64_t(file->position)
                         : whence == SEEK_END ? int64_t(addressSpace)
                                              : -1;
    const int64_t target = base + offset;
    const bool cut = file->node == Node::Flash && cutsPower(s);
    Outcome outcome;
    if (file->node == Node::Mailbox) {
        outcome = failure(ESPIPE);
    } else if (const auto fault = countFlashCall(s, Op::Lseek)) {
        outcome = *fault;
    } else if (base < 0 || target < 0 || uint64_t(target) > addressSpace) {
        outcome = failure(EINVAL);
    } else {
        file->position = uint64_t(target);
        outcome.result = long(target);
        call.address = uint32_t(target);
    }
    if (cut)
        powerCut(s, call);
    return finish(s, call, outcome);
}

Outcome read(int fd, void *buffer, size_t size, std::optional<long> at)
{
    return transferCall(fd, Op::Read, size, at, [&](State &s, uint64_t position, uint64_t wanted, bool) {
        Outcome outcome;
        if (position < addressSpace) {
            const uint64_t n = std::min<uint64_t>(wanted, addressSpace - position);
            s.flash->read(uint32_t(position), static_cast<uint8_t *>(buffer), n);
            outcome.result = long(n);
            outcome.busyNs = transferNs(s.timing.readPerKiBUs, s.timing.singleWordUs, n);
        }
        return outcome;
    });
}

Outcome write(int fd, const void *buffer, size_t size, std::optional<long> at)
{
    return transferCall(fd, Op::Write, size, at, [&](State &s, uint64_t position, uint64_t wanted, bool cut) {
        Outcome outcome;
        if (wanted == 0)
            return outcome;
        if (position >= addressSpace)
            return failure(ENOSPC);
        const uint64_t n = std::min<uint64_t>(wanted, addressSpace - position);
        if (cut)
            tearWrite(s, uint32_t(position), static_cast<const uint8_t *>(buffer), n);
        else
            programWithFaults(s, uint32_t(position), static_cast<const uint8_t *>(buffer), n);
        outcome.result = long(n);
        outcome.busyNs = transferNs(s.timing.programPerKiBUs, s.timing.singleWordUs, n);
        return outcome;
    });
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

void installForkHandlers()
{
    pthread_atfork([] { state().mutex.lock(); }, [] { state().mutex.unlock(); },
                   [] { state().mutex.unlock(); });
}

void shutdown()
{
    State &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    writeRecordFile(s);
    writeBusyFile();
}

} // namespace detail

using detail::state;

void reset()
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.flash = detail::processFlash();
    s.backingFile.clear();
    s.unlocked = false;
    s.faults = detail::Faults();
    std::fill(std::begin(s.flashCalls), std::end(s.flashCalls), 0);
    s.cutCalls = 0;
    s.mailbox = detail::Mailbox();
    s.recording = true;
    s.calls.clear();
    detail::resetTiming(s);
}

std::vector<uint8_t> flashBytes(uint32_t address, uint32_t length)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::vector<uint8_t> bytes(std::min<uint64_t>(length, detail::addressSpace - address));
    s.flash->read(address, bytes.data(), bytes.size());
    return bytes;
}

void setFlashBytes(uint32_t address, const std::vector<uint8_t> &bytes)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.flash->assign(address, bytes.data(), std::min<uint64_t>(bytes.size(), detail::addressSpace - address));
}

bool unlocked()
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.unlocked;
}

bool setBackingFile(const std::string &path, std::string *error)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    std::string message;
    auto shared = path.empty() ? nullptr : detail::sharedFlash(path, &message);
    s.backingFile = shared ? path : std::string();
    s.flash = shared ? std::move(shared) : detail::processFlash();
    detail::applyStuckBits(s, 0, detail::addressSpace);
    if (!message.empty() && error)
        *error = message;
    return message.empty();
}

bool flushBackingFile(std::string *error)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.flash->flush(error);
}

} // namespace zarnsim
