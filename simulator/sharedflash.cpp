// The flash in a file that every process naming it maps at once: one flash for
// all of them, written through on every call, so that a process killed at any
// point leaves exactly what it had programmed, as a power cut would.
//
// The file: one header page (the magic, then a line for whoever looks inside),
// then the 4 GiB as a sparse file holding every byte inverted. A hole, never
// written or punched out by an erase, thus reads as erased 0xFF, and the file
// takes only as much disk as has been programmed.

#include "flash.h"
#include "realcalls.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zarnsim::detail {

namespace {

static_assert(sizeof(void *) == 8 && sizeof(off_t) == 8,
              "the shared flash maps the whole 4 GiB address space");

constexpr char magic[] = "ZARNSIM-FLASH-2\n";
constexpr char description[] =
    "4 GiB of simulated flash from offset 4096, each byte inverted: holes read 0xFF\n";
// The format that kept the flash in memory and saved it whole.
constexpr char olderMagic[] = "ZARNSIM-FLASH-1\n";
constexpr size_t magicSize = sizeof(magic) - 1;
constexpr size_t headerSize = 4096;
constexpr uint64_t fileSize = headerSize + addressSpace;

std::string failed(const std::string &what, const std::string &path)
{
    return "cannot " + what + " " + path + ": " + std::strerror(errno);
}

class SharedFlash : public Flash
{
public:
    SharedFlash(int fd, uint8_t *mapping) : fd(fd), mapping(mapping) {}
    SharedFlash(const SharedFlash &) = delete;
    SharedFlash &operator=(const SharedFlash &) = delete;

    ~SharedFlash() override
    {
        ::munmap(mapping, fileSize);
        real::close(fd);
    }

    void read(uint32_t address, uint8_t *out, uint64_t length) const override
    {
        const uint8_t *cells = mapping + headerSize + address;
        for (uint64_t i = 0; i < length; ++i)
            out[i] = uint8_t(~cells[i]);
    }

    void program(uint32_t address, const uint8_t *in, uint64_t length) override
    {
        uint8_t *cells = mapping + headerSize + address;
        for (uint64_t i = 0; i < length; ++i)
            cells[i] |= uint8_t(~in[i]);
    }

    void assign(uint32_t address, const uint8_t *in, uint64_t length) override
    {
        uint8_t *cells = mapping + headerSize + address;
        for (uint64_t i = 0; i < length; ++i)
            cells[i] = uint8_t(~in[i]);
    }

    // A punched hole gives the disk space back; a file system that cannot
    // punch gets zeros, which read the same.
    void erase(uint32_t address, uint64_t length) override
    {
        if (::fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, off_t(headerSize + address),
                        off_t(length)) != 0)
            std::memset(mapping + headerSize + address, 0, length);
    }

    bool flush(std::string *error) override
    {
        if (::msync(mapping, fileSize, MS_SYNC) == 0)
            return true;
        if (error)
            *error = failed("write", "the flash file");
        return false;
    }

    // Through /proc the new descriptor is on this very file, even if its path
    // has been replaced or was relative to a directory since left.
    int openLockDescriptor() const override
    {
        return real::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC, 0);
    }

private:
    int fd;
    uint8_t *mapping;
};

// Prepared under a temporary name and linked into place, so that processes
// starting together never see a half-made file and only one of them makes it.
bool create(const std::string &path, std::string *error)
{
    std::vector<char> temporary(path.begin(), path.end());
    const std::string suffix = ".XXXXXX";
    temporary.insert(temporary.end(), suffix.begin(), suffix.end());
    temporary.push_back('\0');
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        *error = failed("create", path);
        return false;
    }
    char header[headerSize] = {};
    std::memcpy(header, magic, magicSize);
    std::memcpy(header + magicSize, description, sizeof(description) - 1);
    bool ok =
        ::pwrite(fd, header, headerSize, 0) == ssize_t(headerSize) && ::ftruncate(fd, off_t(fileSize)) == 0;
    if (!ok)
        *error = failed("create", path);
    ok = real::close(fd) == 0 && ok;
    if (ok && ::link(temporary.data(), path.c_str()) != 0 && errno != EEXIST) {
        *error = failed("create", path);
        ok = false;
    }
    ::unlink(temporary.data());
    return ok;
}

// Empty when the file is a flash image of this format.
std::string problem(int fd, const std::string &path)
{
    struct stat status;
    if (::fstat(fd, &status) != 0)
        return failed("examine", path);
    char start[magicSize] = {};
    if (S_ISREG(status.st_mode) && ::pread(fd, start, magicSize, 0) < 0)
        return failed("read", path);
    if (std::memcmp(start, olderMagic, magicSize) == 0)
        return path + " is a flash image of an earlier simulator, which kept its flash in memory; this one "
                      "shares it through a mapped file of another format";
    if (!S_ISREG(status.st_mode) || uint64_t(status.st_size) != fileSize ||
        std::memcmp(start, magic, magicSize) != 0)
        return path + " is not a simulated flash image (a sparse file of 4 GiB and a page, beginning " +
               std::string(magic, magicSize - 1) + ")";
    return std::string();
}

} // namespace

std::unique_ptr<Flash> sharedFlash(const std::string &path, std::string *error)
{
    int fd = real::open(path.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0 && errno == ENOENT) {
        if (!create(path, error))
            return nullptr;
        fd = real::open(path.c_str(), O_RDWR | O_CLOEXEC, 0);
    }
    if (fd < 0) {
        *error = failed("open", path);
        return nullptr;
    }
    *error = problem(fd, path);
    void *mapping = MAP_FAILED;
    if (error->empty()) {
        mapping = ::mmap(nullptr, fileSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (mapping == MAP_FAILED)
            *error = failed("map", path);
    }
    if (mapping == MAP_FAILED) {
        real::close(fd);
        return nullptr;
    }
    return std::make_unique<SharedFlash>(fd, static_cast<uint8_t *>(mapping));
}

} // namespace zarnsim::detail
