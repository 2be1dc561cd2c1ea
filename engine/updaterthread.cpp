#include "updaterthread.h"

#include "flashio.h"
#include "flashlock.h"
#include "imagebuffer.h"
#include "provenance.h"
#include "reportpacer.h"
#include "runhistory.h"
#include "runphases.h"
#include "statuslines.h"
#include "updatefilereader.h"
#include "updatesnapshot.h"
#include "zarndriver.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <QDebug>
#include <QIODevice>
#include <QLatin1String>
#include <unistd.h>
#include <vector>

using statuslines::hexLine;
using zarndriver::blockSize;
using zarndriver::pageSize;
using zarndriver::wordSize;

namespace {

constexpr u_int32_t pageOffsetMask = pageSize - 1;
constexpr useconds_t wordSettleUs = 50000;
constexpr u_int32_t compareReportInterval = 100;

// A page that still reads back wrong after this many rewrites is given up:
// the run must end rather than loop forever on a dead page.
constexpr int maxPageRepairs = 3;

constexpr char dashLine[] = "-----------------------------------";
constexpr char dashLineWithBreaks[] = "-----------------------------------\n\n";
constexpr char asteriskLine[] = "**************************************";

u_int32_t wordAt(const uchar *buffer, u_int32_t byteOffset)
{
    u_int32_t word;
    std::memcpy(&word, buffer + byteOffset, sizeof word);
    return word;
}

QString hexNumber(u_int32_t value)
{
    return QString::number(value, 16);
}

// The verification's debug lines carry the source context of verifyAndRepair,
// whose work they report.
#define VERIFY_DEBUG QMessageLogger(QT_MESSAGELOG_FILE, QT_MESSAGELOG_LINE, function).debug()

// Reads an image back from the flash, compares it word by word with the file
// and repairs what differs: a word alone where programming can still mend it,
// otherwise its whole page, at most a few times a page. Reports through the
// worker's signals as the worker's own verification.
class ImageVerifier
{
public:
    // function: the signature under which the debug lines go out, those of
    // the worker's own verification.
    ImageVerifier(UpdaterThread &worker, const char *function, const QString &filename, int fd, QFile &file,
                  u_int32_t offset, u_int32_t address, u_int32_t size);

    // 0 when the flash holds the image, -1 after a failure it has reported.
    int run();

private:
    enum class Outcome { Equal, RepairPage, Failed };

    bool readBack();
    bool readInto(size_t at, size_t length, uchar *block);
    Outcome compare();
    Outcome repairWord(u_int32_t w);
    bool repairPage(u_int32_t w);
    // Both report the line of a failure, with its errno where there is one,
    // and end the verification.
    bool fail(const QString &line, int error = 0);
    Outcome failed(const QString &line, int error = 0);

    UpdaterThread &worker;
    const char *const function;
    const QString &filename;
    const int fd;
    QFile &file;
    const u_int32_t offset;
    const u_int32_t address;
    const u_int32_t size;
    const u_int32_t words;

    ImageBuffer fileBuffer;
    // The flash's copy of the image is kept only from its first difference on:
    // up to there it equals the file's, so a clean image costs one buffer, not two.
    ImageBuffer flashBuffer;
    const uchar *flash = nullptr;
    std::vector<int> pageRepairs;
    u_int32_t badWord = 0; // the word compare() could not mend alone
};

ImageVerifier::ImageVerifier(UpdaterThread &worker, const char *function, const QString &filename, int fd,
                             QFile &file, u_int32_t offset, u_int32_t address, u_int32_t size)
    : worker(worker), function(function), filename(filename), fd(fd), file(file), offset(offset),
      address(address), size(size), words(size / wordSize), pageRepairs(size / pageSize + 1, 0)
{
}

bool ImageVerifier::fail(const QString &line, int error)
{
    worker.failRun(RunOutcome::Kind::Failed, line, error);
    return false;
}

ImageVerifier::Outcome ImageVerifier::failed(const QString &line, int error)
{
    fail(line, error);
    return Outcome::Failed;
}

int ImageVerifier::run()
{
    for (;;) {
        if (!readBack())
            return -1;
        emit worker.updateStatusText(QStringLiteral("Verifying Flash memory content."));
        const Outcome outcome = compare();
        if (outcome == Outcome::Equal)
            return 0;
        // A new pass follows every page repair: the whole image is read again.
        if (outcome == Outcome::Failed || !repairPage(badWord))
            return -1;
    }
}

bool ImageVerifier::readBack()
{
    worker.reportProgress(ReadBackPhase, 0.0f);
    // Taken from the file again on every pass.
    switch (fileBuffer.view(file, offset, size)) {
    case ImageBuffer::View::Ready:
        break;
    case ImageBuffer::View::NoMemory:
        return fail(hexLine(statuslines::allocationError, address));
    case ImageBuffer::View::Unreadable:
        return fail(QStringLiteral("Error reading ") + filename);
    }
    flash = fileBuffer.data();
    if (const int error = flashio::seek(fd, address))
        return fail(flashio::failureLine("seeking", address, error), error);
    const u_int32_t blocks = size / blockSize;
    uchar block[blockSize];
    for (u_int32_t k = 0; k < blocks; ++k) {
        worker.reportProgress(ReadBackPhase, float(k) / float(blocks));
        if (!readInto(size_t(k) * blockSize, blockSize, block))
            return false;
        emit worker.updateStatusText(hexLine(statuslines::reading, address + k * blockSize));
    }
    return readInto(size_t(blocks) * blockSize, size - blocks * blockSize, block);
}

// Reads the flash at image offset at: into the copy once there is one,
// otherwise into block, which starts the copy at its first difference.
bool ImageVerifier::readInto(size_t at, size_t length, uchar *block)
{
    const bool copying = flash != fileBuffer.data();
    uchar *target = copying ? flashBuffer.data() + at : block;
    if (const int error = flashio::readAll(fd, target, length))
        return fail(flashio::failureLine("reading", address + u_int32_t(at), error), error);
    if (copying)
        return true;
    const size_t comparedBytes = size_t(words) * wordSize;
    const size_t compared = at < comparedBytes ? std::min(length, comparedBytes - at) : 0;
    if (std::memcmp(block, fileBuffer.data() + at, compared) == 0)
        return true;
    if (!flashBuffer)
        flashBuffer = ImageBuffer(size);
    if (!flashBuffer)
        return fail(hexLine(statuslines::allocationError, address));
    std::memcpy(flashBuffer.data(), fileBuffer.data(), at);
    std::memcpy(flashBuffer.data() + at, block, length);
    flash = flashBuffer.data();
    return true;
}

ImageVerifier::Outcome ImageVerifier::compare()
{
    u_int32_t w = 0;
    while (w < words) {
        if (w % compareReportInterval == 0)
            worker.reportProgress(ComparePhase, float(w) / float(words));
        // Equal stretches up to the next report are passed over in one comparison.
        const u_int32_t stretchEnd = std::min(words, w - w % compareReportInterval + compareReportInterval);
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
        VERIFY_DEBUG << dashLine;
        VERIFY_DEBUG << hexLine("Mismatch between buffers at 0x", imageOffset);
        VERIFY_DEBUG << (hexNumber(fileWord) + QStringLiteral(" != ") + hexNumber(flashWord));
        VERIFY_DEBUG << "Trying to repair things...";
        // A write only clears bits, so the word alone can be mended only
        // where the flash still holds every 1 the file wants.
        const Outcome outcome = (flashWord & fileWord) == fileWord ? repairWord(w) : Outcome::RepairPage;
        if (outcome != Outcome::Equal) {
            badWord = w;
            return outcome;
        }
        ++w;
    }
    return Outcome::Equal;
}

ImageVerifier::Outcome ImageVerifier::repairWord(u_int32_t w)
{
    const u_int32_t imageOffset = w * wordSize;
    const u_int32_t fileWord = wordAt(fileBuffer.data(), imageOffset);
    const u_int32_t wordAddress = address + imageOffset;
    emit worker.updateStatusText(hexLine(statuslines::writing, imageOffset));
    if (const int error = flashio::seek(fd, wordAddress))
        return failed(flashio::failureLine("seeking", wordAddress, error), error);
    if (const int error = flashio::writeAll(fd, &fileWord, sizeof fileWord))
        return failed(flashio::failureLine("writing", wordAddress, error), error);
    ::usleep(wordSettleUs);
    if (const int error = flashio::seek(fd, wordAddress))
        return failed(flashio::failureLine("seeking", wordAddress, error), error);
    u_int32_t check = 0;
    if (const int error = flashio::readAll(fd, &check, sizeof check))
        return failed(flashio::failureLine("reading", wordAddress, error), error);
    VERIFY_DEBUG << hexLine("Check: ", check);
    return check == fileWord ? Outcome::Equal : Outcome::RepairPage;
}

bool ImageVerifier::repairPage(u_int32_t w)
{
    const u_int32_t imageOffset = w * wordSize;
    const u_int32_t pageOffset = imageOffset & ~pageOffsetMask;
    const u_int32_t pageAddress = address + pageOffset;
    int &repairs = pageRepairs[pageOffset / pageSize];
    if (repairs == maxPageRepairs) {
        worker.failRun(RunOutcome::Kind::VerificationFailed,
                       hexLine(statuslines::verifyError, address + imageOffset));
        return false;
    }
    ++repairs;
    VERIFY_DEBUG << asteriskLine;
    const QString erasing = hexLine(statuslines::erasing, pageAddress);
    VERIFY_DEBUG << erasing;
    emit worker.updateStatusText(erasing);
    if (const int error = flashio::erasePage(fd, pageAddress))
        return fail(flashio::failureLine("erasing", pageAddress, error), error);
    emit worker.updateStatusText(hexLine(statuslines::writing, pageAddress));
    if (const int error = flashio::seek(fd, pageAddress))
        return fail(flashio::failureLine("seeking", pageAddress, error), error);
    VERIFY_DEBUG << hexLine("Writing Flash page at 0x", pageOffset);
    // Past the image's end the buffer holds erased flash, so the page gets 0xFF there.
    if (const int error = flashio::writeAll(fd, fileBuffer.data() + pageOffset, pageSize))
        return fail(flashio::failureLine("writing", pageAddress, error), error);
    VERIFY_DEBUG << dashLineWithBreaks;
    return true;
}

} // namespace

UpdaterThread::UpdaterThread(QObject *parent)
    : QObject(parent), trustedDirectories(provenance::defaultTrustedDirectories()), imageWeight(0),
      completedWeight(0), outcome(std::make_shared<RunOutcome>())
{
}

UpdaterThread::~UpdaterThread() = default;

void UpdaterThread::setFilename(QString filename)
{
    this->filename = filename;
}

void UpdaterThread::setTrustedDirectories(QStringList directories)
{
    trustedDirectories = std::move(directories);
}

int UpdaterThread::getHeaderInfo(QString filename, QList<UpdaterThread::imgHeader> *list)
{
    // Once confirmed, a file is listed from the bytes that will be flashed.
    QFile file(filename);
    const auto confirmed = confirmedupdates::pinned(filename);
    const bool opened = confirmed ? confirmed->open(file) : updatefilereader::openRegularFile(file);
    if (!opened) {
        qDebug() << "Failed opening file: " << filename;
        return updatefilereader::fileUnreadable;
    }
    return updatefilereader::readHeaders(file, list);
}

void UpdaterThread::setReportPacer(std::shared_ptr<ReportPacer> pacer)
{
    this->pacer = std::move(pacer);
}

void UpdaterThread::setRunRecorder(std::shared_ptr<RunRecorder> recorder)
{
    this->recorder = std::move(recorder);
}

void UpdaterThread::setOnlyChanged(std::shared_ptr<changedpages::Counts> counts)
{
    changes = std::move(counts);
}

void UpdaterThread::setOutcome(std::shared_ptr<RunOutcome> outcome)
{
    this->outcome = outcome ? std::move(outcome) : std::make_shared<RunOutcome>();
}

void UpdaterThread::failRun(RunOutcome::Kind kind, const QString &line, int error)
{
    outcome->kind = kind;
    outcome->lastLine = line;
    outcome->cause = error != 0 ? flashio::causeText(error) : QString();
    emit updateStatusText(line);
}

void UpdaterThread::reportProgress(int phase, float fraction)
{
    if (pacer)
        pacer->beforeReport();
    emit updateCurrentProgress(int(100.0f * fraction));
    const float total =
        ((fraction * phaseShare[phase] + phaseStart[phase]) * imageWeight + completedWeight) * 100.0f;
    emit updateTotalProgress(int(total));
}

int UpdaterThread::unlockFlash(int fd)
{
    qDebug() << "int UpdaterThread::unlockFlash(int)";
    const int result = flashio::unlock(fd) == 0 ? 0 : -1;
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
        emit updateStatusText(hexLine(statuslines::erasing, pageAddress));
        if (const int error = flashio::erasePage(fd, pageAddress)) {
            failRun(RunOutcome::Kind::Failed, hexLine(statuslines::eraseError, pageAddress), error);
            return -1;
        }
    }
    reportProgress(ErasePhase, 1.0f);
    return 0;
}

int UpdaterThread::writeToFlash(int fd, QFile &file, u_int32_t offset, u_int32_t address, u_int32_t size)
{
    qDebug() << "int UpdaterThread::writeToFlash(int, QFile&, u_int32_t, u_int32_t, u_int32_t)";
    reportProgress(WritePhase, 0.0f);
    ImageBuffer buffer;
    switch (buffer.view(file, offset, size)) {
    case ImageBuffer::View::Ready:
        break;
    case ImageBuffer::View::NoMemory:
        failRun(RunOutcome::Kind::Failed, hexLine(statuslines::allocationError, address));
        return -1;
    case ImageBuffer::View::Unreadable:
        failRun(RunOutcome::Kind::Failed, QStringLiteral("Error reading ") + filename);
        return -1;
    }
    if (const int error = flashio::seek(fd, address)) {
        failRun(RunOutcome::Kind::Failed, flashio::failureLine("seeking", address, error), error);
        return -1;
    }
    const u_int32_t blocks = size / blockSize;
    for (u_int32_t k = 0; k <= blocks; ++k) {
        const u_int32_t blockAddress = address + k * blockSize;
        // The last transfer is the remainder, made even when nothing remains,
        // as the driver has always seen it.
        const u_int32_t length = k < blocks ? blockSize : size - blocks * blockSize;
        if (k < blocks)
            reportProgress(WritePhase, float(k) / float(blocks));
        if (const int error = flashio::writeAll(fd, buffer.data() + size_t(k) * blockSize, length)) {
            failRun(RunOutcome::Kind::Failed, flashio::failureLine("writing", blockAddress, error), error);
            return -1;
        }
        if (k < blocks)
            emit updateStatusText(hexLine(statuslines::writing, blockAddress));
    }
    return 0;
}

int UpdaterThread::verifyAndRepair(int fd, QFile &file, u_int32_t offset, u_int32_t address, u_int32_t size)
{
    qDebug() << "int UpdaterThread::verifyAndRepair(int, QFile&, u_int32_t, u_int32_t, u_int32_t)";
    return ImageVerifier(*this, Q_FUNC_INFO, filename, fd, file, offset, address, size).run();
}
