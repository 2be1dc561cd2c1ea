// The power cut: what the call in progress leaves on the flash when the power
// goes, and the end of the process that made it, as sudden as the cut itself.

#include "state.h"

#include <csignal>
#include <unistd.h>

namespace zarnsim {

namespace detail {

namespace {

// The unit in which a torn erase leaves its page erased or as it was.
constexpr uint32_t erasePiece = 4096;
static_assert(flashPageSize / erasePiece < 64, "a torn erase draws the fate of every piece from one number");

// The choices of one tear, from the seed and the call alone (splitmix64), so
// that a cut that shows a fault can be made again to the byte.
class Tear
{
public:
    explicit Tear(const Faults &faults) : state(faults.cutSeed ^ (uint64_t(faults.cutAt) * increment)) {}

    uint64_t next()
    {
        uint64_t z = (state += increment);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }
    uint64_t below(uint64_t bound) { return next() % bound; }

private:
    static constexpr uint64_t increment = 0x9E3779B97F4A7C15u;
    uint64_t state;
};

} // namespace

bool cutsPower(State &s)
{
    // Counted whether or not a cut is set, so that one set later still counts from reset().
    return ++s.cutCalls == s.faults.cutAt && s.faults.cutAt != 0;
}

// A prefix of whole bytes, fewer than all, and of the byte in progress only
// some of the bits it clears.
void tearWrite(State &s, uint32_t address, const uint8_t *data, uint64_t length)
{
    if (length == 0)
        return;
    Tear tear(s.faults);
    std::vector<uint8_t> torn(data, data + tear.below(length) + 1);
    torn.back() |= uint8_t(~tear.next());
    programWithFaults(s, address, torn.data(), torn.size());
}

// Some 4 KiB pieces of the page erased, the others as they were: never all
// nor none of them, unless the page has only one.
void tearErase(State &s, uint32_t address, uint64_t length)
{
    Tear tear(s.faults);
    const uint64_t pieces = (length + erasePiece - 1) / erasePiece;
    const uint64_t all = (uint64_t(1) << pieces) - 1;
    uint64_t erased = tear.next() & all;
    if (pieces > 1 && (erased == 0 || erased == all))
        erased ^= uint64_t(1) << tear.below(pieces);
    for (uint64_t i = 0; i < pieces; ++i) {
        if ((erased >> i & 1) != 0)
            eraseRange(s, uint32_t(address + i * erasePiece),
                       std::min<uint64_t>(erasePiece, length - i * erasePiece));
    }
}

// The torn part is in the flash already: in a shared flash file it is in the
// file's pages, which the kernel keeps when the process goes. Nothing of the
// program runs after it: no handler, no exit path, no other thread's call.
void powerCut(State &s, Call &call)
{
    call.cut = true;
    s.note(call);
    writeRecordFile(s);
    ::kill(::getpid(), SIGKILL);
    for (;;)
        ::pause();
}

} // namespace detail

void cutPower(unsigned n, uint64_t seed)
{
    auto &s = detail::state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.faults.cutAt = n;
    s.faults.cutSeed = seed;
}

} // namespace zarnsim
