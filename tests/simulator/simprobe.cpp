// A plain program that knows nothing of the simulator: the preload test runs
// it with libzarnsim preloaded and configured from the environment. It prints
//   mailbox <answer or eN per command> flags <command after the first two answers>
//   flash was <word> unlock <result> erase <result> now <word after programming>
// for the word at 0x20000 (or "mailbox eN" / "flash eN" when a node cannot be opened).

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <initializer_list>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr unsigned long mailboxRequest = 0xC008420A;
constexpr unsigned long flashUnlock = 0x40084232;
constexpr unsigned long flashErasePage = 0x4004423C;
constexpr uint32_t probeAddress = 0x20000;
constexpr uint32_t probeWord = 0x12345678;

struct Request
{
    uint32_t command;
    uint32_t value;
    uint32_t reserved[6];
};

uint32_t readWord(int flash)
{
    uint32_t stored = 0;
    lseek(flash, probeAddress, SEEK_SET);
    return read(flash, &stored, sizeof stored) == sizeof stored ? stored : 0;
}

} // namespace

int main()
{
    const int mailbox = open("/dev/zarn_mailbox", O_RDWR);
    if (mailbox < 0) {
        std::printf("mailbox e%d\n", errno);
    } else {
        uint32_t flags[3] = {};
        int answer = 0;
        std::printf("mailbox");
        for (uint32_t command : {0x101u, 0x201u, 0x301u}) {
            Request request{command, 0, {}};
            if (ioctl(mailbox, mailboxRequest, &request) < 0)
                std::printf(" e%d", errno);
            else
                std::printf(" %x", request.value);
            flags[answer++] = request.command;
        }
        std::printf(" flags %x %x\n", flags[0], flags[1]);
        close(mailbox);
    }
    const int flash = open("/dev/zarn_flash", O_RDWR);
    if (flash < 0) {
        std::printf("flash e%d\n", errno);
        return 0;
    }
    std::printf("flash was %x", readWord(flash));
    std::printf(" unlock %d", ioctl(flash, flashUnlock, "heedful!!"));
    std::printf(" erase %d", ioctl(flash, flashErasePage, static_cast<unsigned long>(probeAddress)));
    lseek(flash, probeAddress, SEEK_SET);
    if (write(flash, &probeWord, sizeof probeWord) < 0)
        std::printf(" write e%d", errno);
    std::printf(" now %x\n", readWord(flash));
    close(flash);
    return 0;
}
