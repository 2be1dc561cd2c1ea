// A plain program that knows nothing of the simulator: the preload test runs
// it with libzarnsim preloaded and configured from the environment.
//   simprobe <word>: prints the mailbox answers and the flash word at 0x1000,
//   then programs <word> there.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <initializer_list>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr unsigned long mailboxRequest = 0xC008420A;
constexpr unsigned long flashUnlock = 0x40084232;
constexpr uint32_t probeAddress = 0x1000;

struct Request
{
    uint32_t command;
    uint32_t value;
    uint32_t reserved[6];
};

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2)
        return 2;
    const uint32_t word = uint32_t(std::strtoul(argv[1], nullptr, 0));
    const int mailbox = open("/dev/zarn_mailbox", O_RDWR);
    if (mailbox < 0) {
        std::printf("mailbox errno %d\n", errno);
    } else {
        std::printf("answers");
        for (uint32_t command : {0x101u, 0x201u, 0x301u}) {
            Request request{command, 0, {}};
            if (ioctl(mailbox, mailboxRequest, &request) < 0)
                std::printf(" errno%d", errno);
            else
                std::printf(" %x", request.value);
        }
        std::printf("\n");
        close(mailbox);
    }
    const int flash = open("/dev/zarn_flash", O_RDWR);
    if (flash < 0) {
        std::printf("flash errno %d\n", errno);
        return 0;
    }
    uint32_t stored = 0;
    lseek(flash, probeAddress, SEEK_SET);
    if (read(flash, &stored, sizeof stored) == sizeof stored)
        std::printf("word %x\n", stored);
    ioctl(flash, flashUnlock, "heedful!!");
    lseek(flash, probeAddress, SEEK_SET);
    if (write(flash, &word, sizeof word) != sizeof word)
        std::printf("write errno %d\n", errno);
    close(flash);
    return 0;
}
