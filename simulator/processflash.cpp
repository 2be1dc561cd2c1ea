// The flash of a process that shares it with nobody: chunks allocated on
// first write, so that the 4 GiB address space costs only what is programmed.

#include "flash.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace zarnsim::detail {

namespace {

// Chunks are large enough that a 1 KiB transfer touches at most two of them
// and a page erase can drop whole chunks.
class ProcessFlash : public Flash
{
public:
    static constexpr unsigned chunkBits = 16;
    static constexpr uint32_t chunkSize = uint32_t(1) << chunkBits;
    static constexpr size_t chunkCount = size_t(1) << (32 - chunkBits);

    ProcessFlash() : chunks(chunkCount) {}

    void read(uint32_t address, uint8_t *out, uint64_t length) const override
    {
        pieces(address, length, [&](size_t index, uint32_t offset, uint32_t n, uint64_t done) {
            if (const auto &chunk = chunks[index])
                std::memcpy(out + done, chunk.get() + offset, n);
            else
                std::memset(out + done, erasedByte, n);
        });
    }

    void program(uint32_t address, const uint8_t *in, uint64_t length) override
    {
        pieces(address, length, [&](size_t index, uint32_t offset, uint32_t n, uint64_t done) {
            uint8_t *target = writable(index) + offset;
            const uint8_t *source = in + done;
            for (uint32_t i = 0; i < n; ++i)
                target[i] &= source[i];
        });
    }

    void assign(uint32_t address, const uint8_t *in, uint64_t length) override
    {
        pieces(address, length, [&](size_t index, uint32_t offset, uint32_t n, uint64_t done) {
            std::memcpy(writable(index) + offset, in + done, n);
        });
    }

    void erase(uint32_t address, uint64_t length) override
    {
        pieces(address, length, [&](size_t index, uint32_t offset, uint32_t n, uint64_t) {
            if (n == chunkSize)
                chunks[index].reset();
            else if (const auto &chunk = chunks[index])
                std::memset(chunk.get() + offset, erasedByte, n);
        });
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

} // namespace

std::unique_ptr<Flash> processFlash()
{
    return std::make_unique<ProcessFlash>();
}

} // namespace zarnsim::detail
