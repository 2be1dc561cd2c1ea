// A plain program that knows nothing of the simulator: the preload test runs
// it with libzarnsim preloaded and configured from the environment. It prints
//   mailbox <answer or eN per command> flags <command after the first two answers>
//   flash was <word> unlock <result> erase <result> now <word after programming>
// for the word at 0x20000 (or "mailbox eN" / "flash eN" when a node cannot be opened).
// With the argument "lock" it takes the flash for itself first and prints only
//   flash lock 0 chr <mode> listed <1 if /proc/locks shows it> was ... now <word>
// and holds it until its input ends, or "flash lock eN was <word>" when it cannot.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

// Whether /proc/locks lists this process's exclusive flock() on the node, by
// the device and inode that fstat() gives for it.
bool listed(const struct stat &node)
{
    std::FILE *locks = std::fopen("/proc/locks", "r");
    if (!locks)
        return false;
    char line[256];
    bool found = false;
    while (!found && std::fgets(line, sizeof line, locks)) {
        int pid = 0;
        unsigned deviceMajor = 0, deviceMinor = 0;
        unsigned long inode = 0;
        found = std::sscanf(line, "%*d: FLOCK %*s WRITE %d %x:%x:%lu", &pid, &deviceMajor, &deviceMinor,
                            &inode) == 4 &&
                pid == getpid() && deviceMajor == major(node.st_dev) && deviceMinor == minor(node.st_dev) &&
                inode == node.st_ino;
    }
    std::fclose(locks);
    return found;
}

void program(int flash)
{
    std::printf(" was %x", readWord(flash));
    std::printf(" unlock %d", ioctl(flash, flashUnlock, "heedful!!"));
    std::printf(" erase %d", ioctl(flash, flashErasePage, static_cast<unsigned long>(probeAddress)));
    lseek(flash, probeAddress, SEEK_SET);
    if (write(flash, &probeWord, sizeof probeWord) < 0)
        std::printf(" write e%d", errno);
    std::printf(" now %x", readWord(flash));
}

int lockAndProgram()
{
    const int flash = open("/dev/zarn_flash", O_RDWR);
    if (flash < 0) {
        std::printf("flash e%d\n", errno);
        return 0;
    }
    if (flock(flash, LOCK_EX | LOCK_NB) != 0) {
        std::printf("flash lock e%d", errno);
        std::printf(" was %x\n", readWord(flash));
        return 0;
    }
    struct stat node = {};
    fstat(flash, &node);
    std::printf("flash lock 0 %s %o listed %d", S_ISCHR(node.st_mode) ? "chr" : "other", node.st_mode & 07777,
                int(listed(node)));
    program(flash);
    while (std::getchar() != EOF) {
    }
    close(flash);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // Unbuffered, so that what it printed is there when it is killed.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc > 1 && std::strcmp(argv[1], "lock") == 0)
        return lockAndProgram();

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
    std::printf("flash");
    program(flash);
    std::printf("\n");
    close(flash);
    return 0;
}
