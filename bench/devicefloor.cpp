#include "devicefloor.h"

#include "benchclock.h"
#include "imageheader.h"
#include "zarndriver.h"
#include "zarnsim.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <QFile>
#include <QtEndian>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace bench {

namespace {

using zarndriver::unlockPhrase;
constexpr int headerSize = headerlayout::size;
using headerlayout::addressPosition;
using headerlayout::nextOffsetPosition;
constexpr size_t blockSize = zarndriver::blockSize;
constexpr uchar erasedByte = 0xFF;

struct Image
{
    quint32 address = 0;
    quint32 size = 0; // counted from the header's first byte, as the engine counts it
};

// The floor makes the calls and no more: what they return is not looked at.
void bareRead(int fd, void *buffer, size_t size)
{
    [[maybe_unused]] const ssize_t done = ::read(fd, buffer, size);
}

void bareWrite(int fd, const void *buffer, size_t size)
{
    [[maybe_unused]] const ssize_t done = ::write(fd, buffer, size);
}

// The engine's buffers hold whole pages; so do these, so that both touch the
// same amount of memory.
size_t bufferCapacity(quint32 size)
{
    const size_t pages =
        std::max<size_t>(1, (size_t(size) + zarnsim::flashPageSize - 1) / zarnsim::flashPageSize);
    return pages * zarnsim::flashPageSize;
}

bool fill(int file, uchar *buffer, size_t capacity, quint32 size)
{
    const ssize_t got = ::pread(file, buffer, size, headerSize);
    if (got < 0)
        return false;
    std::memset(buffer + got, erasedByte, capacity - size_t(got));
    return true;
}

// The window's look at the lock before the confirmation, and the run's own
// lock (flock is not in the device's record).
int openAndErase(const Image &image)
{
    ::close(::open(zarnsim::flashPath, O_RDONLY | O_CLOEXEC));
    const int fd = ::open(zarnsim::flashPath, O_RDWR);
    ::flock(fd, LOCK_EX | LOCK_NB);
    ::ioctl(fd, zarnsim::flashIocUnlock, unlockPhrase);
    const quint32 pages = (image.size + zarnsim::flashPageSize - 1) / zarnsim::flashPageSize;
    for (int pass = 0; pass < 2; ++pass) {
        for (quint32 k = 0; k < pages; ++k)
            ::ioctl(fd, zarnsim::flashIocErasePage,
                    static_cast<unsigned long>(image.address + k * zarnsim::flashPageSize));
    }
    return fd;
}

// The run's last look at the flash: the image's own bytes, header left out.
void finalReadBack(int fd, const Image &image)
{
    uchar block[blockSize];
    ::lseek(fd, off_t(image.address), SEEK_SET);
    for (size_t at = 0; at < image.size - headerSize; at += blockSize)
        bareRead(fd, block, std::min(blockSize, image.size - headerSize - at));
}

void updateFromWholeImage(int file, const Image &image)
{
    const int fd = openAndErase(image);
    const size_t capacity = bufferCapacity(image.size);
    const size_t blocks = image.size / blockSize;
    const size_t rest = image.size - blocks * blockSize;
    auto *written = static_cast<uchar *>(std::malloc(capacity));
    fill(file, written, capacity, image.size);
    ::lseek(fd, off_t(image.address), SEEK_SET);
    for (size_t k = 0; k < blocks; ++k)
        bareWrite(fd, written + k * blockSize, blockSize);
    bareWrite(fd, written + blocks * blockSize, rest);
    std::free(written);

    auto *expected = static_cast<uchar *>(std::malloc(capacity));
    auto *readBack = static_cast<uchar *>(std::malloc(capacity));
    fill(file, expected, capacity, image.size);
    ::lseek(fd, off_t(image.address), SEEK_SET);
    for (size_t k = 0; k < blocks; ++k)
        bareRead(fd, readBack + k * blockSize, blockSize);
    bareRead(fd, readBack + blocks * blockSize, rest);
    const size_t compared = image.size / 4 * 4;
    volatile bool same = std::memcmp(expected, readBack, compared) == 0;
    (void)same;
    std::free(readBack);
    std::free(expected);
    finalReadBack(fd, image);
    ::close(fd);
}

// Past the file's end the engine's buffer holds erased flash; so does this.
void readFileBlock(int file, uchar *block, size_t length, size_t imageOffset)
{
    const ssize_t got = ::pread(file, block, length, off_t(headerSize + imageOffset));
    const size_t kept = got > 0 ? size_t(got) : 0;
    std::memset(block + kept, erasedByte, blockSize - kept);
}

void updateBlockByBlock(int file, const Image &image)
{
    const int fd = openAndErase(image);
    const size_t blocks = image.size / blockSize;
    const size_t rest = image.size - blocks * blockSize;
    uchar expected[blockSize];
    uchar readBack[blockSize];
    ::lseek(fd, off_t(image.address), SEEK_SET);
    for (size_t k = 0; k <= blocks; ++k) {
        const size_t length = k < blocks ? blockSize : rest;
        readFileBlock(file, expected, length, k * blockSize);
        bareWrite(fd, expected, length);
    }
    ::lseek(fd, off_t(image.address), SEEK_SET);
    bool same = true;
    for (size_t k = 0; k <= blocks; ++k) {
        const size_t length = k < blocks ? blockSize : rest;
        readFileBlock(file, expected, length, k * blockSize);
        bareRead(fd, readBack, length);
        same = same && std::memcmp(expected, readBack, length / 4 * 4) == 0;
    }
    volatile bool kept = same;
    (void)kept;
    finalReadBack(fd, image);
    ::close(fd);
}

bool readImage(int file, Image *image)
{
    uchar header[headerSize];
    struct stat status;
    if (::pread(file, header, headerSize, 0) != headerSize || ::fstat(file, &status) != 0)
        return false;
    image->address = qFromLittleEndian<quint32>(header + addressPosition);
    const quint32 next = qFromLittleEndian<quint32>(header + nextOffsetPosition);
    image->size = next != 0 ? next : quint32(status.st_size);
    return true;
}

// What matters of a call for the comparison: the unlock argument is a pointer
// and an open's result a descriptor number, both of which differ from program
// to program; the phrase and the success do not.
bool sameCall(const zarnsim::Call &a, const zarnsim::Call &b)
{
    const bool unlock = a.op == zarnsim::Op::Ioctl && a.request == zarnsim::flashIocUnlock;
    const bool open = a.op == zarnsim::Op::Open;
    return a.node == b.node && a.op == b.op && a.flags == b.flags && a.address == b.address &&
           a.size == b.size && a.request == b.request && (unlock || a.argument == b.argument) &&
           a.phrase == b.phrase && (open ? (a.result < 0) == (b.result < 0) : a.result == b.result) &&
           a.error == b.error;
}

std::vector<zarnsim::Call> flashCalls()
{
    std::vector<zarnsim::Call> calls = zarnsim::record();
    calls.erase(std::remove_if(calls.begin(), calls.end(),
                               [](const zarnsim::Call &call) { return call.node != zarnsim::Node::Flash; }),
                calls.end());
    return calls;
}

} // namespace

qint64 updateWithoutEngine(const QString &updateFile, FloorBuffers buffers)
{
    qint64 elapsed = -1;
    const QByteArray path = QFile::encodeName(updateFile);
    std::thread runner([&] {
        const qint64 start = nowNs();
        const int file = ::open(path.constData(), O_RDONLY);
        Image image;
        if (file < 0 || !readImage(file, &image)) {
            if (file >= 0)
                ::close(file);
            return;
        }
        if (buffers == FloorBuffers::WholeImage)
            updateFromWholeImage(file, image);
        else
            updateBlockByBlock(file, image);
        ::close(file);
        elapsed = nowNs() - start;
    });
    runner.join();
    return elapsed;
}

bool sameDeviceCalls(const QString &updateFile, const std::function<bool()> &engineRun, QString *why)
{
    zarnsim::setRecording(true);
    zarnsim::clearRecord();
    const bool engineDone = engineRun();
    const std::vector<zarnsim::Call> engine = flashCalls();
    std::vector<zarnsim::Call> floors[2];
    bool floorsDone = true;
    const FloorBuffers kinds[2] = {FloorBuffers::WholeImage, FloorBuffers::OneBlock};
    for (int i = 0; i < 2; ++i) {
        zarnsim::clearRecord();
        floorsDone = updateWithoutEngine(updateFile, kinds[i]) >= 0 && floorsDone;
        floors[i] = flashCalls();
    }
    zarnsim::clearRecord();
    zarnsim::setRecording(false);

    if (!engineDone || !floorsDone) {
        *why = QStringLiteral("a run did not complete");
        return false;
    }
    for (const std::vector<zarnsim::Call> &floor : floors) {
        const size_t common = std::min(engine.size(), floor.size());
        for (size_t i = 0; i < common; ++i) {
            if (!sameCall(engine[i], floor[i])) {
                *why = QStringLiteral("call %1: engine %2, floor %3")
                           .arg(i)
                           .arg(QString::fromStdString(zarnsim::describe(engine[i])),
                                QString::fromStdString(zarnsim::describe(floor[i])));
                return false;
            }
        }
        if (engine.size() != floor.size()) {
            *why = QStringLiteral("engine %1 calls, floor %2").arg(engine.size()).arg(floor.size());
            return false;
        }
    }
    *why = QStringLiteral("%1 flash calls, identical in order, addresses and sizes").arg(engine.size());
    return true;
}

} // namespace bench
