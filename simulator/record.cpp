// The record of every call on the device nodes, and its text form.

#include "state.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zarnsim {

namespace detail {

std::string &recordFile()
{
    static std::string *const path = new std::string;
    return *path;
}

std::string &busyFile()
{
    static std::string *const path = new std::string;
    return *path;
}

namespace {

// The file at path opened for writing, or null (said on stderr) when it cannot be.
std::FILE *openForWriting(const std::string &path)
{
    if (path.empty())
        return nullptr;
    std::FILE *file = std::fopen(path.c_str(), "w");
    if (!file)
        std::fprintf(stderr, "zarnsim: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    return file;
}

} // namespace

void writeBusyFile()
{
    std::FILE *file = openForWriting(busyFile());
    if (!file)
        return;
    std::fprintf(file, "%llu\n", static_cast<unsigned long long>(busyNanoseconds()));
    std::fclose(file);
}

void writeRecordFile(const State &s)
{
    std::FILE *file = openForWriting(recordFile());
    if (!file)
        return;
    for (const Call &call : s.calls)
        std::fprintf(file, "%s\n", describe(call).c_str());
    std::fclose(file);
}

} // namespace detail

using detail::state;

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
    if (call.cut)
        return line + " result=cut";
    line += " result=" + std::to_string(call.result);
    if (call.result < 0)
        line += std::string(" errno=") + std::to_string(call.error);
    return line;
}

} // namespace zarnsim
