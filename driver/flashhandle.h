#pragma once

#include <cerrno>
#include <cstddef>
#include <functional>
#include <QString>
#include <QtGlobal>
#include <sys/types.h>

// What went wrong with a call on the flash: which call, where, and the
// system's errno, so that whoever reports it words it and classes it once.
struct FlashFailure
{
    enum class Call { None, Open, Lock, Seek, Read, Write, Erase, Unlock };

    Call call = Call::None;
    int error = 0;         // the errno, or flashio::noProgress
    u_int32_t address = 0; // Seek, Read, Write, Erase: the flash address
    qint64 holder = 0;     // Lock, busy: the process that holds the flash, 0 when it cannot be told

    static FlashFailure at(Call call, u_int32_t address, int error) { return {call, error, address, 0}; }

    bool failed() const { return call != Call::None; }
    explicit operator bool() const { return failed(); }
    // Another process holds the flash.
    bool busy() const { return call == Call::Lock && error == EWOULDBLOCK; }
    // The node is missing or may not be opened: no driver, or no permission.
    bool noDevice() const { return call == Call::Open; }

    // The operator's line: "Error opening /dev/zarn_flash" (with the cause
    // where the driver is loaded), the holder of a busy flash, "Error locking
    // /dev/zarn_flash: <cause>", or "Error <reading> Flash memory at 0x<address>: <cause>".
    QString line() const;
    // Whether line() names the cause already.
    bool lineNamesCause() const;
};

// The flash node, opened in one mode and locked against every other update,
// reader or writer, for as long as the handle lives; or a node another opened
// and holds, borrowed. Reads go a block at a time, as the device has always
// been asked; every failure comes back as a value.
class FlashHandle
{
public:
    enum class Mode { Read, ReadWrite };

    explicit FlashHandle(Mode mode);
    // A node already open and held by the caller, who closes it.
    static FlashHandle borrow(int fd) { return FlashHandle(fd); }
    ~FlashHandle();
    FlashHandle(FlashHandle &&other) noexcept;
    FlashHandle(const FlashHandle &) = delete;
    FlashHandle &operator=(const FlashHandle &) = delete;
    FlashHandle &operator=(FlashHandle &&) = delete;

    // Opened and locked: otherwise failure() says which of the two failed.
    bool ready() const { return !opening.failed(); }
    const FlashFailure &failure() const { return opening; }
    int fd() const { return descriptor; }

    FlashFailure seek(u_int32_t address) const;
    // length bytes from where the node stands; address only names the place in a failure.
    FlashFailure readHere(u_int32_t address, void *target, size_t length) const;
    // length bytes from address, into target.
    FlashFailure read(u_int32_t address, void *target, size_t length) const;
    // The same, each block handed to take(offset from address, bytes, count)
    // as it comes, into one block's buffer; take returns false to stop there.
    using BlockTaker = std::function<bool(size_t offset, const uchar *bytes, size_t count)>;
    FlashFailure read(u_int32_t address, size_t length, const BlockTaker &take) const;

private:
    explicit FlashHandle(int borrowed) : descriptor(borrowed), owned(false) {}

    int descriptor = -1;
    bool owned = true;
    FlashFailure opening;
};
