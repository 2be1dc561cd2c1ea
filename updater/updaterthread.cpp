#include "updaterthread.h"

#include "updatefilereader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <QDebug>
#include <QIODevice>
#include <QLatin1String>
#include <QVector>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr char flashDevicePath[] = "/dev/zarn_flash";
constexpr unsigned long flashIocUnlock = 0x40084232;
constexpr unsigned long flashIocErasePage = 0x4004423C;
constexpr char unlockPhrase[] = "heedful!!";

constexpr u_int32_t pageSize = 0x20000;
constexpr u_int32_t pageOffsetMask = pageSize - 1;
constexpr u_int32_t blockSize = 1024;
constexpr u_int32_t wordSize = 4;
constexpr useconds_t wordSettleUs = 50000;
constexpr u_int32_t compareReportInterval = 100;
constexpr uchar erasedByte = 0xFF;

// A page that still reads back wrong after this many rewrites is given up:
// the run must end rather than loop forever on a dead page.
constexpr int maxPageRepairs = 3;

enum Phase { ErasePhase, WritePhase, ReadBackPhase, ComparePhase, PhaseCount };
constexpr float phaseShare[PhaseCount] = {0.05f, 0.88f, 0.04f, 0.03f};
// Sums of the earlier shares, added in single precision as the bars expect.
constexpr float phaseStart[PhaseCount] = {0.0f, phaseShare[0], phaseShare[0] + phaseShare[1],
                                          phaseShare[0] + phaseShare[1] + phaseShare[2]};

constexpr char dashLine[] = "-----------------------------------";
constexpr char dashLineWithBreaks[] = "-----------------------------------\n\n";
constexpr char asteriskLine[] = "**************************************";
constexpr char writingText[] = "Writing to Flash memory at 0x";
constexpr char readingText[] = "Reading from Flash memory at 0x";
constexpr char erasingText[] = "Erasing page at 0x";
constexpr char eraseErrorText[] = "Error erasing page at 0x";
constexpr char verifyErrorText[] = "Error verifying Flash memory at 0x";
constexpr char allocationErrorText[] = "Error allocating memory for the image at 0x";

// One allocation per line: these are built for every 1 KiB block.
QString hexLine(const char *text, quint64 value)
{
    char digits[16];
    int count = 0;
    do {
        digits[count++] = "0123456789abcdef"[value & 0xF];
        value >>= 4;
    } while (value != 0);
    const QLatin1String prefix(text);
    QString line;
    line.reserve(prefix.size() + count);
    line += prefix;
    while (count > 0)
        line += QLatin1Char(digits[--count]);
    return line;
}

QString hexNumber(u_int32_t value)
{
    return QString::number(value, 16);
}

// A transfer buffer for one image, rounded up to whole pages so that a page
// rewrite never reads past it. Empty when the image is too large for the
// engine or the heap refuses.
class ImageBuffer
{
public:
    ImageBuffer() = default;
    explicit ImageBuffer(u_int32_t size)
    {
        if (size > updatefilereader::imageBufferLimit)
            return;
        const size_t pages = std::max<size_t>(1, (size_t(size) + pageOffsetMask) / pageSize);
        capacity = pages * pageSize;
        bytes.reset(static_cast<uchar *>(std::malloc(capacity)));
    }

    explicit operator bool() const { return bytes != nullptr; }
    uchar *data() const { return bytes.get(); }

    // The image's bytes from the file; where the file ends early the buffer
    // holds erased flash, so that writing and comparing agree on it.
    bool fill(QFile &file, u_int32_t offset, u_int32_t size)
    {
        const u_int32_t dataStart = offset + updatefilereader::headerSize;
        qint64 got = -1;
        if (file.seek(dataStart))
            got = file.read(reinterpret_cast<char *>(bytes.get()), size);
        if (got < 0)
            return false;
        std::memset(bytes.get() + got, erasedByte, capacity - size_t(got));
        return true;
    }

private:
    struct Free
    {
        void operator()(uchar *p) const { std::free(p); }
    };
    std::unique_ptr<uchar, Free> bytes;
    size_t capacity = 0;
};

class FlashDevice
{
public:
    FlashDevice() : fd(::open(flashDevicePath, O_RDWR)) {}
    ~FlashDevice()
    {
        if (fd >= 0)
            ::close(fd);
    }
    FlashDevice(const FlashDevice &) = delete;
    FlashDevice &operator=(const FlashDevice &) = delete;

    const int fd;
};

u_int32_t wordAt(const uchar *buffer, u_int32_t byteOffset)
{
    u_int32_t word;
    std::memcpy(&word, buffer + byteOffset, sizeof word);
    return word;
}

} // namespace

UpdaterThread::UpdaterThread(QObject *parent) : QObject(parent), imageWeight(0), completedWeight(0) {}

UpdaterThread::~UpdaterThread() = default;

void UpdaterThread::setFilename(QString filename)
{
    this->filename = filename;
}

int UpdaterThread::getHeaderInfo(QString filename, QList<UpdaterThread::imgHeader> *list)
{
    QFile file(filename);
    if (!updatefilereader::openRegularFile(file)) {
        qDebug() << "Failed opening file: " << filename;
        return updatefilereader::fileUnreadable;
    }
    return updatefilereader::readHeaders(file, list);
}

void UpdaterThread::reportProgress(int phase, float fraction)
{
    emit updateCurrentProgress(int(100.0f * fraction));
    const float total =
        ((fraction * phaseShare[phase] + phaseStart[phase]) * imageWeight + completedWeight) * 100.0f;
    emit updateTotalProgress(int(total));
}

int UpdaterThread::unlockFlash(int fd)
{
    qDebug() << "int UpdaterThread::unlockFlash(int)";
    const int result = ::ioctl(fd, flashIocUnlock, unlockPhrase);
    if (result < 0)
        emit updateStatusText(QStringLiteral("Error unlocking Flash memory."));
    return result;
}

int UpdaterThread::eraseFlash(int fd, u_int32_t address, u_int32_t size)
{
    qDebug() << "int UpdaterThread::eraseFlash(int, u_int32_t, u_int32_t)";
    const u_int32_t pages = size / pageSize + (size % pageSize != 0 ? 1 : 0);
    for (u_int32_t k = 0; k < pages; ++k) {
        // Counted from the image's own address, not aligned to a page boundary.
        const u_int32_t pageAddress = address + k * pageSize;
        reportProgress(ErasePhase, float(k) / float(pages));
        emit updateStatusText(hexLine(erasingText, pageAddress));
        const int result = ::ioctl(fd, flashIocErasePage, static_cast<unsigned long>(pageAddress));
        if (result < 0) {
            emit updateStatusText(hexLine(eraseErrorText, pageAddress));
            return result;
        }
    }
    reportProgress(ErasePhase, 1.0f);
    return 0;
}

int UpdaterThread::writeToFlash(int fd, QFile &file, u_int32_t offset, u_int32_t address, u_int32_t size)
{
    qDebug() << "int UpdaterThread::writeToFlash(int, QFile&, u_int32_t, u_int32_t, u_int32_t)";
    reportProgress(WritePhase, 0.0f);
    ImageBuffer buffer(size);
    if (!buffer) {
        emit updateStatusText(hexLine(allocationErrorText, address));
        return -1;
    }
    if (!buffer.fill(file, offset, size)) {
        emit updateStatusText(QStringLiteral("Error reading ") + filename);
        return -1;
    }
    ::lseek(fd, off_t(address), SEEK_SET);
    const u_int32_t blocks = size / blockSize;
    for (u_int32_t k = 0; k < blocks; ++k) {
        reportProgress(WritePhase, float(k) / float(blocks));
        ::write(fd, buffer.data() + size_t(k) * blockSize, blockSize);
        emit updateStatusText(hexLine(writingText, address + k * blockSize));
    }
    // Made even when nothing remains, as the driver has always seen it.
    ::write(fd, buffer.data() + size_t(blocks) * blockSize, size - blocks * blockSize);
    return 0;
}

int UpdaterThread::verifyAndRepair(int fd, QFile &file, u_int32_t offset, u_int32_t address, u_int32_t size)
{
    qDebug() << "int UpdaterThread::verifyAndRepair(int, QFile&, u_int32_t, u_int32_t, u_int32_t)";
    ImageBuffer fileBuffer(size);
    if (!fileBuffer) {
        emit updateStatusText(hexLine(allocationErrorText, address));
        return -1;
    }
    // The flash's copy of the image is kept only from its first difference on:
    // up to there it equals the file's, so a clean image costs one buffer, not two.
    ImageBuffer flashBuffer;
    const u_int32_t blocks = size / blockSize;
    const u_int32_t words = size / wordSize;
    const size_t comparedBytes = size_t(words) * wordSize;
    std::vector<int> pageRepairs(size / pageSize + 1, 0);

    for (;;) {
        reportProgress(ReadBackPhase, 0.0f);
        if (!fileBuffer.fill(file, offset, size)) {
            emit updateStatusText(QStringLiteral("Error reading ") + filename);
            return -1;
        }
        const uchar *flash = fileBuffer.data();
        uchar block[blockSize];
        // Reads the flash at image offset at; false when the heap refuses the copy.
        const auto readBack = [&](size_t at, size_t length) {
            uchar *target = flash != fileBuffer.data() ? flashBuffer.data() + at : block;
            const ssize_t got = ::read(fd, target, length);
            // Bytes the device did not deliver must never pass for the right ones.
            for (size_t i = size_t(std::max<ssize_t>(got, 0)); i < length; ++i)
                target[i] = uchar(~fileBuffer.data()[at + i]);
            if (target != block)
                return true;
            const size_t compared = at < comparedBytes ? std::min(length, comparedBytes - at) : 0;
            if (std::memcmp(block, fileBuffer.data() + at, compared) == 0)
                return true;
            if (!flashBuffer)
                flashBuffer = ImageBuffer(size);
            if (!flashBuffer)
                return false;
            std::memcpy(flashBuffer.data(), fileBuffer.data(), at);
            std::memcpy(flashBuffer.data() + at, block, length);
            flash = flashBuffer.data();
            return true;
        };
        bool copied = true;
        ::lseek(fd, off_t(address), SEEK_SET);
        for (u_int32_t k = 0; k < blocks; ++k) {
            reportProgress(ReadBackPhase, float(k) / float(blocks));
            copied = readBack(size_t(k) * blockSize, blockSize) && copied;
            emit updateStatusText(hexLine(readingText, address + k * blockSize));
        }
        copied = readBack(size_t(blocks) * blockSize, size - blocks * blockSize) && copied;
        if (!copied) {
            emit updateStatusText(hexLine(allocationErrorText, address));
            return -1;
        }
        emit updateStatusText(QStringLiteral("Verifying Flash memory content."));

        u_int32_t w = 0;
        while (w < words) {
            if (w % compareReportInterval == 0)
                reportProgress(ComparePhase, float(w) / float(words));
            // Equal stretches up to the next report are passed over in one comparison.
            const u_int32_t stretchEnd =
                std::min(words, w - w % compareReportInterval + compareReportInterval);
            if (std::memcmp(fileBuffer.data() + size_t(w) * wordSize, flash + size_t(w) * wordSize,
                            size_t(stretchEnd - w) * wordSize) == 0) {
                w = stretchEnd;
                continue;
            }
            while (wordAt(fileBuffer.data(), w * wordSize) == wordAt(flash, w * wordSize))
                ++w;
            const u_int32_t imageOffset = w * wordSize;
            const u_int32_t fileWord = wordAt(fileBuffer.data(), imageOffset);
            const u_int32_t flashWord = wordAt(flash, imageOffset);
            qDebug() << dashLine;
            qDebug() << hexLine("Mismatch between buffers at 0x", imageOffset);
            qDebug() << (hexNumber(fileWord) + QStringLiteral(" != ") + hexNumber(flashWord));
            qDebug() << "Trying to repair things...";
            // A write only clears bits, so the word alone can be mended only
            // where the flash still holds every 1 the file wants.
            if ((flashWord & fileWord) != fileWord)
                break;
            emit updateStatusText(hexLine(writingText, imageOffset));
            ::lseek(fd, off_t(address + imageOffset), SEEK_SET);
            ::write(fd, &fileWord, sizeof fileWord);
            ::usleep(wordSettleUs);
            ::lseek(fd, off_t(address + imageOffset), SEEK_SET);
            u_int32_t check = ~fileWord; // a failed read must not pass for the right value
            ::read(fd, &check, sizeof check);
            qDebug() << hexLine("Check: ", check);
            if (check != fileWord)
                break;
            ++w;
        }
        if (w >= words)
            return 0;

        const u_int32_t imageOffset = w * wordSize;
        const u_int32_t pageOffset = imageOffset & ~pageOffsetMask;
        const u_int32_t pageAddress = address + pageOffset;
        int &repairs = pageRepairs[pageOffset / pageSize];
        if (repairs == maxPageRepairs) {
            emit updateStatusText(hexLine(verifyErrorText, address + imageOffset));
            return -1;
        }
        ++repairs;
        qDebug() << asteriskLine;
        const QString erasing = hexLine(erasingText, pageAddress);
        qDebug() << erasing;
        emit updateStatusText(erasing);
        ::ioctl(fd, flashIocErasePage, static_cast<unsigned long>(pageAddress));
        emit updateStatusText(hexLine(writingText, pageAddress));
        ::lseek(fd, off_t(pageAddress), SEEK_SET);
        qDebug() << hexLine("Writing Flash page at 0x", pageOffset);
        // Past the image's end the buffer holds erased flash, so the page gets 0xFF there.
        ::write(fd, fileBuffer.data() + pageOffset, pageSize);
        qDebug() << dashLineWithBreaks;
    }
}

void UpdaterThread::process()
{
    runUpdate();
    emit finished();
}

// Every way out of here leaves through a return, after which the device and
// the file are closed; process() then reports the end once.
void UpdaterThread::runUpdate()
{
    emit updateStatusText(QStringLiteral("Updater initialization..."));
    reportProgress(ErasePhase, 0.0f);

    QList<imgHeader> images;
    const int chain = getHeaderInfo(filename, &images);
    QFile file(filename);
    if (chain == updatefilereader::fileUnreadable || !updatefilereader::openRegularFile(file)) {
        emit updateStatusText(QStringLiteral("Error opening ") + filename);
        return;
    }
    // A damaged file is refused whole before the flash is touched, so it can
    // never leave the flash half-programmed.
    const updatefilereader::Finding finding = updatefilereader::check(images, chain, file.size());
    if (finding.fault != updatefilereader::Fault::None) {
        emit updateStatusText(updatefilereader::describe(finding, filename, images));
        return;
    }

    FlashDevice device;
    if (device.fd < 0) {
        emit updateStatusText(QStringLiteral("Error opening ") + QLatin1String(flashDevicePath));
        return;
    }

    quint64 totalSize = 0;
    for (const imgHeader &image : images)
        totalSize += image.size;
    QVector<float> shares;
    shares.reserve(images.size());
    for (const imgHeader &image : images)
        shares.append(totalSize != 0 ? float(image.size) / float(totalSize) : 1.0f / float(images.size()));

    // A refusal is already reported; the erase or the verification then fails and ends the run.
    unlockFlash(device.fd);

    completedWeight = 0;
    for (int i = 0; i < images.size(); ++i) {
        const imgHeader &image = images.at(i);
        imageWeight = shares.at(i);
        emit updateStatusText(QStringLiteral("Started erasing Flash memory..."));
        // Two erase passes per image are part of the established procedure.
        if (eraseFlash(device.fd, image.address, image.size) < 0)
            return;
        if (eraseFlash(device.fd, image.address, image.size) < 0)
            return;
        emit updateStatusText(QStringLiteral("Started writing to Flash memory..."));
        if (writeToFlash(device.fd, file, image.offset, image.address, image.size) < 0)
            return;
        emit updateStatusText(QStringLiteral("Verifying Flash memory..."));
        if (verifyAndRepair(device.fd, file, image.offset, image.address, image.size) < 0)
            return;
        completedWeight += imageWeight;
    }

    file.close();
    emit updateStatusText(QLatin1String(updateDoneText));
    emit updateCurrentProgress(100);
    emit updateTotalProgress(100);
}
