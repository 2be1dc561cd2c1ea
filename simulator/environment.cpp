// Configuration from the environment, for processes that preload the
// simulator (the demo, the benchmarks, tests that start the real program).

#include "device.h"
#include "zarnsim.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zarnsim {

namespace {

std::optional<uint64_t> number(const std::string &text, uint64_t largest)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return std::nullopt;
    errno = 0;
    char *end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value > largest)
        return std::nullopt;
    return value;
}

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

std::optional<int> errorNumber(const std::string &text)
{
    static const struct
    {
        const char *name;
        int value;
    } names[] = {{"ENOENT", ENOENT}, {"EACCES", EACCES}, {"EPERM", EPERM}, {"EIO", EIO},
                 {"ENODEV", ENODEV}, {"EBUSY", EBUSY},   {"EINTR", EINTR}, {"EINVAL", EINVAL},
                 {"ENOSPC", ENOSPC}, {"EAGAIN", EAGAIN}};
    for (const auto &name : names) {
        if (text == name.name)
            return name.value;
    }
    if (const auto value = number(text, 4095); value && *value > 0)
        return int(*value);
    return std::nullopt;
}

// A call on the flash node by the name ZARNSIM_FAIL_CALL, ZARNSIM_SHORT and
// ZARNSIM_HANG give it.
std::optional<Op> flashCall(const std::string &text)
{
    if (text == "lseek")
        return Op::Lseek;
    if (text == "read")
        return Op::Read;
    if (text == "write")
        return Op::Write;
    if (text == "erase")
        return Op::Ioctl;
    return std::nullopt;
}

std::optional<bool> flag(const std::string &text)
{
    if (text == "1" || text == "yes" || text == "on")
        return true;
    if (text == "0" || text == "no" || text == "off")
        return false;
    return std::nullopt;
}

class Reader
{
public:
    std::vector<std::string> problems;

    // Calls apply with the variable's value when it is set and not empty;
    // apply returns false when it cannot use the value.
    void take(const char *name, const char *expected, const std::function<bool(const std::string &)> &apply)
    {
        const char *value = std::getenv(name);
        if (!value || !*value)
            return;
        if (!apply(value))
            problems.push_back(std::string(name) + "=" + value + " ignored: expected " + expected);
    }

    // A comma-separated list of items, each parts separated by colons.
    // Nothing is applied unless every item parses.
    template <typename Item>
    void takeItems(const char *name, const char *expected, size_t parts,
                   const std::function<std::optional<Item>(const std::vector<std::string> &)> &parse,
                   const std::function<void(const Item &)> &apply)
    {
        take(name, expected, [&](const std::string &text) {
            std::vector<Item> items;
            for (const auto &item : split(text, ',')) {
                const auto fields = split(item, ':');
                const auto parsed = fields.size() == parts ? parse(fields) : std::nullopt;
                if (!parsed)
                    return false;
                items.push_back(*parsed);
            }
            for (const auto &item : items)
                apply(item);
            return true;
        });
    }

    // A comma-separated list of address:value pairs.
    void takePairs(const char *name, const char *expected, uint64_t largest,
                   const std::function<void(uint32_t, uint64_t)> &add)
    {
        take(name, expected, [&](const std::string &text) {
            std::vector<std::pair<uint32_t, uint64_t>> pairs;
            for (const auto &item : split(text, ',')) {
                const auto parts = split(item, ':');
                if (parts.size() != 2)
                    return false;
                const auto address = number(parts[0], UINT32_MAX);
                const auto value = number(parts[1], largest);
                if (!address || !value)
                    return false;
                pairs.emplace_back(uint32_t(*address), *value);
            }
            for (const auto &pair : pairs)
                add(pair.first, pair.second);
            return true;
        });
    }
};

} // namespace

std::vector<std::string> configureFromEnvironment()
{
    Reader reader;
    reader.take("ZARNSIM_TIMING",
                "zero, nor, fast, demo or four numbers of microseconds "
                "(page erase, program per KiB, read per KiB, single word)",
                [](const std::string &text) {
                    if (text == "zero" || text == "nor" || text == "fast" || text == "demo") {
                        setTiming(timingProfile(text));
                        return true;
                    }
                    const auto parts = split(text, ',');
                    if (parts.size() != 4)
                        return false;
                    uint32_t us[4];
                    for (size_t i = 0; i < parts.size(); ++i) {
                        const auto value = number(parts[i], UINT32_MAX);
                        if (!value)
                            return false;
                        us[i] = uint32_t(*value);
                    }
                    setTiming({us[0], us[1], us[2], us[3]});
                    return true;
                });
    reader.take("ZARNSIM_SLEEP", "0 or 1", [](const std::string &text) {
        const auto on = flag(text);
        if (on)
            setSleeping(*on);
        return on.has_value();
    });
    reader.take("ZARNSIM_RECORD", "0 or 1", [](const std::string &text) {
        const auto on = flag(text);
        if (on)
            setRecording(*on);
        return on.has_value();
    });
    reader.take("ZARNSIM_RECORD_FILE", "a path", [](const std::string &text) {
        detail::recordFile() = text;
        return true;
    });
    reader.take("ZARNSIM_BUSY_FILE", "a path", [](const std::string &text) {
        detail::busyFile() = text;
        return true;
    });
    reader.take("ZARNSIM_FLASH_FILE", "a flash image", [&](const std::string &text) {
        std::string error;
        if (!setBackingFile(text, &error))
            reader.problems.push_back("ZARNSIM_FLASH_FILE: " + error +
                                      "; the flash is this process's own, erased, and is not kept");
        return true;
    });
    reader.take("ZARNSIM_MISSING", "flash, mailbox or both", [](const std::string &text) {
        if (text != "flash" && text != "mailbox" && text != "both")
            return false;
        if (text != "mailbox")
            setNodeError(Node::Flash, ENOENT);
        if (text != "flash")
            setNodeError(Node::Mailbox, ENOENT);
        return true;
    });
    reader.take("ZARNSIM_FLASH_ERROR", "an errno name (ENOENT, EACCES, EIO, ...) or number",
                [](const std::string &text) {
                    const auto error = errorNumber(text);
                    if (error)
                        setNodeError(Node::Flash, *error);
                    return error.has_value();
                });
    reader.take("ZARNSIM_MAILBOX_ERROR", "an errno name (ENOENT, EACCES, EIO, ...) or number",
                [](const std::string &text) {
                    const auto error = errorNumber(text);
                    if (error)
                        setNodeError(Node::Mailbox, *error);
                    return error.has_value();
                });
    reader.take("ZARNSIM_UNLOCK_REFUSED", "0 or 1", [](const std::string &text) {
        const auto on = flag(text);
        if (on)
            setUnlockRefused(*on);
        return on.has_value();
    });
    reader.take("ZARNSIM_ERASE_FAIL_AT", "comma-separated flash addresses", [](const std::string &text) {
        std::vector<uint32_t> addresses;
        for (const auto &item : split(text, ',')) {
            const auto address = number(item, UINT32_MAX);
            if (!address)
                return false;
            addresses.push_back(uint32_t(*address));
        }
        for (const uint32_t address : addresses)
            failEraseAt(address);
        return true;
    });
    reader.take("ZARNSIM_ERASE_FAIL_REQUEST", "a request number counted from 1", [](const std::string &text) {
        const auto n = number(text, UINT32_MAX);
        if (n)
            failEraseRequest(unsigned(*n));
        return n.has_value();
    });
    reader.takePairs("ZARNSIM_STUCK_BITS", "address:mask pairs, the mask one byte", UINT8_MAX,
                     [](uint32_t address, uint64_t mask) { addStuckBits(address, uint8_t(mask)); });
    reader.takePairs("ZARNSIM_WEAK_WORDS", "address:attempts pairs", UINT32_MAX,
                     [](uint32_t address, uint64_t attempts) { addWeakWord(address, unsigned(attempts)); });
    reader.takePairs("ZARNSIM_LOSING_WORDS", "address:bits pairs, the bits one 32-bit word", UINT32_MAX,
                     [](uint32_t address, uint64_t bits) { addLosingWord(address, uint32_t(bits)); });
    struct CallItem
    {
        Op op;
        uint64_t value;
        int error;
    };
    using Fields = std::vector<std::string>;
    reader.takeItems<CallItem>(
        "ZARNSIM_FAIL_CALL", "op:n:errno items, op lseek, read, write or erase, n from 1", 3,
        [](const Fields &f) -> std::optional<CallItem> {
            const auto op = flashCall(f[0]);
            const auto n = number(f[1], UINT32_MAX);
            const auto error = errorNumber(f[2]);
            if (!op || !n || *n == 0 || !error)
                return std::nullopt;
            return CallItem{*op, *n, *error};
        },
        [](const CallItem &item) { failFlashCall(item.op, unsigned(item.value), item.error); });
    reader.takeItems<CallItem>(
        "ZARNSIM_SHORT", "op:bytes items, op read or write", 2,
        [](const Fields &f) -> std::optional<CallItem> {
            const auto op = flashCall(f[0]);
            const auto most = number(f[1], UINT32_MAX);
            if (!op || (*op != Op::Read && *op != Op::Write) || !most)
                return std::nullopt;
            return CallItem{*op, *most, 0};
        },
        [](const CallItem &item) { setShortTransfers(item.op, uint32_t(item.value)); });
    reader.takeItems<CallItem>(
        "ZARNSIM_HANG", "op:n items, op lseek, read, write or erase, n from 1", 2,
        [](const Fields &f) -> std::optional<CallItem> {
            const auto op = flashCall(f[0]);
            const auto n = number(f[1], UINT32_MAX);
            if (!op || !n || *n == 0)
                return std::nullopt;
            return CallItem{*op, *n, 0};
        },
        [](const CallItem &item) { hangFlashCall(item.op, unsigned(item.value)); });
    reader.take("ZARNSIM_CUT", "n or n:seed, the call counted from 1", [](const std::string &text) {
        const auto parts = split(text, ':');
        if (parts.size() > 2)
            return false;
        const auto n = number(parts[0], UINT32_MAX);
        const auto seed = parts.size() == 2 ? number(parts[1], UINT64_MAX) : std::optional<uint64_t>(0);
        if (!n || *n == 0 || !seed)
            return false;
        cutPower(unsigned(*n), *seed);
        return true;
    });
    reader.take("ZARNSIM_MAILBOX_ANSWERS", "three numbers: software version, hardware timestamp, PID version",
                [](const std::string &text) {
                    const auto parts = split(text, ',');
                    if (parts.size() != 3)
                        return false;
                    const auto sw = number(parts[0], UINT32_MAX);
                    const auto hw = number(parts[1], UINT32_MAX);
                    const auto pid = number(parts[2], UINT32_MAX);
                    if (!sw || !hw || !pid)
                        return false;
                    setMailboxAnswers(uint32_t(*sw), uint32_t(*hw), uint32_t(*pid));
                    return true;
                });
    reader.take("ZARNSIM_MAILBOX_FLAGS", "a 32-bit number", [](const std::string &text) {
        const auto flags = number(text, UINT32_MAX);
        if (flags)
            setMailboxFlags(uint32_t(*flags));
        return flags.has_value();
    });
    reader.take("ZARNSIM_MAILBOX_LATER_FLAGS", "a 32-bit number", [](const std::string &text) {
        const auto flags = number(text, UINT32_MAX);
        if (flags)
            setMailboxLaterFlags(uint32_t(*flags));
        return flags.has_value();
    });
    reader.take("ZARNSIM_MAILBOX_FAIL", "n or n:errno, the request counted from 1",
                [](const std::string &text) {
                    const auto parts = split(text, ':');
                    if (parts.size() > 2)
                        return false;
                    const auto n = number(parts[0], UINT32_MAX);
                    const auto error = parts.size() == 2 ? errorNumber(parts[1]) : std::optional<int>(EIO);
                    if (!n || !error)
                        return false;
                    failMailboxRequest(unsigned(*n), *error);
                    return true;
                });
    return reader.problems;
}

namespace {

__attribute__((constructor)) void configureOnLoad()
{
    detail::installForkHandlers();
    for (const auto &problem : configureFromEnvironment())
        std::fprintf(stderr, "zarnsim: %s\n", problem.c_str());
}

__attribute__((destructor)) void saveOnExit()
{
    detail::shutdown();
}

} // namespace

} // namespace zarnsim
