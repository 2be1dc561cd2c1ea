#pragma once

// Where the flash content lives: in this process, or in a file that several
// processes map at once. Both hold the whole 32-bit address space; callers keep
// every range inside it. Nothing here knows of faults or of the device lock.

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>

namespace zarnsim::detail {

inline constexpr uint64_t addressSpace = uint64_t(1) << 32;
inline constexpr uint8_t erasedByte = 0xFF;

class Flash
{
public:
    virtual ~Flash() = default;

    virtual void read(uint32_t address, uint8_t *out, uint64_t length) const = 0;
    // The physics of NOR flash: programming only ever clears bits.
    virtual void program(uint32_t address, const uint8_t *in, uint64_t length) = 0;
    virtual void assign(uint32_t address, const uint8_t *in, uint64_t length) = 0;
    virtual void erase(uint32_t address, uint64_t length) = 0;

    uint8_t byte(uint32_t address) const
    {
        uint8_t value = erasedByte;
        read(address, &value, 1);
        return value;
    }
    void setByte(uint32_t address, uint8_t value) { assign(address, &value, 1); }

    virtual bool flush(std::string *) { return true; }
    // A new descriptor of the file that holds the flash, to take flock()
    // locks on; -1 with errno when the flash is this process's own.
    virtual int openLockDescriptor() const { return -1; }
};

std::unique_ptr<Flash> processFlash();
// The flash kept in the file at path, created erased when absent; nullptr
// with *error when the file cannot be used.
std::unique_ptr<Flash> sharedFlash(const std::string &path, std::string *error);

} // namespace zarnsim::detail
