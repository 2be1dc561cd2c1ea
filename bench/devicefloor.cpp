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

constexpr size_t copyChunk = 65536;
constexpr size_t preImageMagicSize = 8;
constexpr size_t pageRecordSize = headerSize;
// About what the history's entry of a run holds before the flash is unlocked.
constexpr size_t entrySize = 1024;

quint32 pagesOf(const Image &image)
{
    return (image.size + zarnsim::flashPageSize - 1) / zarnsim::flashPageSize;
}

// A file of the journal as a run keeps it: written in 64 KiB calls, flushed,
// given its name, and the folder flushed.
class KeptFile
{
public:
    KeptFile(const QByteArray &folder, const char *name)
        : temporary(folder + "/.floor-" + name), named(folder + '/' + name),
          fd(::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0660)), folder(folder),
          pending(copyChunk)
    {
    }
    // At most a chunk at a time.
    void put(const void *data, size_t length)
    {
        if (used + length > pending.size())
            flush();
        std::memcpy(pending.data() + used, data, length);
        used += length;
    }
    void keep()
    {
        flush();
        ::fsync(fd);
        ::close(fd);
        ::rename(temporary.constData(), named.constData());
        const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::fsync(folderFd);
        ::close(folderFd);
    }

private:
    void flush()
    {
        bareWrite(fd, pending.data(), used);
        used = 0;
    }

    const QByteArray temporary;
    const QByteArray named;
    const int fd;
    const QByteArray folder;
    std::vector<char> pending;
    size_t used = 0;
};

// The history's entry of a run, as it is written before the flash is
// unlocked and once more when the run has ended.
void keepEntry(const QByteArray &folder)
{
    KeptFile entry(folder, "entry");
    const std::vector<char> text(entrySize, ' ');
    entry.put(text.data(), text.size());
    entry.keep();
}

// The recovery copies a run keeps before it unlocks the flash: the update's
// bytes, then the pages it will erase, read from the flash (fd) as the run
// reads them, or taken as erased without it (fd < 0); then the entry that
// names them.
void keepCopies(int fd, int file, const Image &image, const QByteArray &folder)
{
    {
        KeptFile update(folder, "update");
        std::vector<char> chunk(copyChunk);
        for (off_t at = 0;; at += off_t(copyChunk)) {
            const ssize_t got = ::pread(file, chunk.data(), copyChunk, at);
            if (got <= 0)
                break;
            update.put(chunk.data(), size_t(got));
        }
        update.keep();
    }
    KeptFile before(folder, "before");
    const uchar magic[preImageMagicSize] = {};
    before.put(magic, sizeof magic);
    uchar block[blockSize];
    std::memset(block, erasedByte, sizeof block);
    for (quint32 k = 0; k < pagesOf(image); ++k) {
        const uchar record[pageRecordSize] = {};
        before.put(record, sizeof record);
        const quint32 address = image.address + k * zarnsim::flashPageSize;
        if (fd >= 0)
            ::lseek(fd, off_t(address), SEEK_SET);
        for (size_t at = 0; at < zarnsim::flashPageSize; at += blockSize) {
            if (fd >= 0)
                bareRead(fd, block, blockSize);
            before.put(block, blockSize);
        }
    }
    before.keep();
    keepEntry(folder);
}

// The window's look at the lock before the confirmation, and the run's own
// lock (flock is not in the device's record).
int openAndErase(const Image &image, const QByteArray &copies, int file)
{
    ::close(::open(zarnsim::flashPath, O_RDONLY | O_CLOEXEC));
    const int fd = ::open(zarnsim::flashPath, O_RDWR);
    ::flock(fd, LOCK_EX | LOCK_NB);
    if (!copies.isEmpty())
        keepCopies(fd, file, image, copies);
    ::ioctl(fd, zarnsim::flashIocUnlock, unlockPhrase);
    for (int pass = 0; pass < 2; ++pass) {
        for (quint32 k = 0; k < pagesOf(image); ++k)
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

void updateFromWholeImage(int file, const Image &image, const QByteArray &copies)
{
    const int fd = openAndErase(image, copies, file);
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

void updateBlockByBlock(int file, const Image &image, const QByteArray &copies)
{
    const int fd = openAndErase(image, copies, file);
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

qint64 updateWithoutEngine(const QString &updateFile, FloorBuffers buffers, const QString &copiesFolder)
{
    qint64 elapsed = -1;
    const QByteArray path = QFile::encodeName(updateFile);
    const QByteArray copies = QFile::encodeName(copiesFolder);
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
            updateFromWholeImage(file, image, copies);
        else
            updateBlockByBlock(file, image, copies);
        if (!copies.isEmpty())
            keepEntry(copies);
        ::close(file);
        elapsed = nowNs() - start;
    });
    runner.join();
    return elapsed;
}

qint64 journalWithoutEngine(const QString &updateFile, const QString &folder)
{
    const int file = ::open(QFile::encodeName(updateFile).constData(), O_RDONLY | O_CLOEXEC);
    Image image;
    if (file < 0 || !readImage(file, &image)) {
        if (file >= 0)
            ::close(file);
        return -1;
    }
    const qint64 start = nowNs();
    keepCopies(-1, file, image, QFile::encodeName(folder));
    keepEntry(QFile::encodeName(folder));
    const qint64 elapsed = nowNs() - start;
    ::close(file);
    return elapsed;
}

bool sameDeviceCalls(const QString &updateFile, const QString &copiesFolder,
                     const std::function<bool()> &engineRun, QString *why)
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
        floorsDone = updateWithoutEngine(updateFile, kinds[i], copiesFolder) >= 0 && floorsDone;
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
