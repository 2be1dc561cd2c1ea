// The faults a test can give the device: cells that misbehave under
// programming and erasing, and calls on the flash node that fail, come up
// short or never return.

#include "state.h"

#include <algorithm>

namespace zarnsim {

namespace detail {

namespace {

bool overlaps(uint32_t word, uint64_t address, uint64_t length)
{
    return word < address + length && address < uint64_t(word) + wordSize;
}

// Which counter of State::flashCalls a call of op goes to, if any.
std::optional<size_t> counter(Op op)
{
    switch (op) {
    case Op::Lseek:
        return 0;
    case Op::Read:
        return 1;
    case Op::Write:
        return 2;
    case Op::Ioctl:
        return 3;
    default:
        return std::nullopt;
    }
}

void addCallFault(Op op, unsigned n, int error)
{
    if (!counter(op) || n == 0)
        return;
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto &faults = s.faults.callFaults;
    faults.erase(std::remove_if(faults.begin(), faults.end(),
                                [&](const CallFault &fault) { return fault.op == op && fault.n == n; }),
                 faults.end());
    faults.push_back({op, n, error});
}

} // namespace

void applyStuckBits(State &s, uint64_t address, uint64_t length)
{
    const auto &stuck = s.faults.stuckBits;
    for (auto it = stuck.lower_bound(uint32_t(address)); it != stuck.end() && it->first < address + length;
         ++it)
        s.flash->setByte(it->first, s.flash->byte(it->first) & uint8_t(~it->second));
}

void eraseRange(State &s, uint32_t address, uint64_t length)
{
    s.flash->erase(address, length);
    for (auto &word : s.faults.losingWords) {
        if (word.phase == LosingWord::Phase::Losing && overlaps(word.address, address, length))
            word.phase = LosingWord::Phase::Healed;
    }
    applyStuckBits(s, address, length);
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
                k.bytes[i] = s.flash->byte(word.address + i);
            kept.push_back(k);
        }
    }
    s.flash->program(address, data, length);
    for (const auto &k : kept) {
        for (uint32_t i = 0; i < wordSize && uint64_t(k.address) + i < addressSpace; ++i)
            s.flash->setByte(k.address + i, k.bytes[i]);
    }
    for (auto &word : s.faults.losingWords) {
        if (word.phase == LosingWord::Phase::Healed || !overlaps(word.address, address, length))
            continue;
        word.phase = LosingWord::Phase::Losing;
        for (uint32_t i = 0; i < wordSize && uint64_t(word.address) + i < addressSpace; ++i) {
            const uint8_t lost = uint8_t(word.lostBits >> (8 * i));
            s.flash->setByte(word.address + i, s.flash->byte(word.address + i) & uint8_t(~lost));
        }
    }
}

std::optional<Outcome> countFlashCall(State &s, Op op)
{
    const auto index = counter(op);
    if (!index)
        return std::nullopt;
    const unsigned n = ++s.flashCalls[*index];
    for (const auto &fault : s.faults.callFaults) {
        if (fault.op != op || fault.n != n)
            continue;
        Outcome outcome = failure(fault.error);
        outcome.hang = fault.error == 0;
        return outcome;
    }
    return std::nullopt;
}

uint64_t shortened(const State &s, Op op, uint64_t size)
{
    const uint32_t most = op == Op::Read ? s.faults.shortRead : op == Op::Write ? s.faults.shortWrite : 0;
    return most == 0 ? size : std::min<uint64_t>(size, most);
}

} // namespace detail

using detail::state;

void setNodeError(Node node, int error)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.faults.nodeError[node == Node::Flash ? 0 : 1] = error;
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
    failFlashCall(Op::Ioctl, n, EIO);
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

void failFlashCall(Op op, unsigned n, int error)
{
    // An error of 0 would be a call that fails without saying why.
    detail::addCallFault(op, n, error == 0 ? EIO : error);
}

void hangFlashCall(Op op, unsigned n)
{
    detail::addCallFault(op, n, 0);
}

void setShortTransfers(Op op, uint32_t maxBytes)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (op == Op::Read)
        s.faults.shortRead = maxBytes;
    else if (op == Op::Write)
        s.faults.shortWrite = maxBytes;
}

void failMailboxRequest(unsigned n, int error)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.faults.failingMailboxRequest = n;
    s.faults.mailboxError = error;
}

} // namespace zarnsim
