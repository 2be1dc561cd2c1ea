// The mailbox node: one request record in, the answer written back into it.

#include "state.h"

#include <algorithm>

namespace zarnsim {

namespace detail {

namespace {

constexpr uint32_t softwareVersion = 0x101;
constexpr uint32_t hardwareTimestamp = 0x201;
constexpr uint32_t pidVersion = 0x301;
constexpr int commandWord = 0;
constexpr int valueWord = 1;
constexpr int firstReservedWord = 2;

} // namespace

Outcome mailboxIoctl(State &s, OpenFile &file, Call &call, uint32_t request, unsigned long argument)
{
    if (request != mailboxIocRequest)
        return failure(ENOTTY);
    if (argument == 0)
        return failure(EFAULT);
    auto *words = reinterpret_cast<uint32_t *>(argument);
    std::copy(words, words + call.mailboxWords.size(), call.mailboxWords.begin());
    call.command = words[commandWord];
    if (++s.mailbox.requests == s.faults.failingMailboxRequest)
        return failure(s.faults.mailboxError);
    uint32_t value = 0;
    switch (call.command) {
    case softwareVersion:
        value = s.mailbox.answers[0];
        break;
    case hardwareTimestamp:
        value = s.mailbox.answers[1];
        break;
    case pidVersion:
        value = s.mailbox.answers[2];
        break;
    default:
        return failure(EINVAL);
    }
    words[valueWord] = value;
    // The driver is free to scribble on the reserved words; this one does, so
    // that a caller who reuses an answered record without clearing it shows.
    std::fill(words + firstReservedWord, words + call.mailboxWords.size(), mailboxReservedAnswer);
    if (++file.mailboxAnswers == 1)
        words[commandWord] = s.mailbox.flags;
    else if (s.mailbox.laterFlags)
        words[commandWord] = *s.mailbox.laterFlags;
    return {};
}

} // namespace detail

using detail::state;

void setMailboxAnswers(uint32_t swVersion, uint32_t hwTimestamp, uint32_t pidVersion)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.mailbox.answers[0] = swVersion;
    s.mailbox.answers[1] = hwTimestamp;
    s.mailbox.answers[2] = pidVersion;
}

void setMailboxFlags(uint32_t flags)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.mailbox.flags = flags;
}

void setMailboxLaterFlags(uint32_t flags)
{
    auto &s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.mailbox.laterFlags = flags;
}

} // namespace zarnsim
