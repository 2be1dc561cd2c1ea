#include "imageverifier.h"

#include "flashio.h"
#include "runphases.h"
#include "runreporter.h"
#include "statuslines.h"
#include "zarndriver.h"

#include <algorithm>
#include <cstring>
#include <QDebug>
#include <QFile>
#include <unistd.h>

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
// whose work they report: its file and function.
#define VERIFY_DEBUG QMessageLogger(file, QT_MESSAGELOG_LINE, function).debug()

} // namespace

ImageVerifier::ImageVerifier(RunReporter &reporter, const Source &source, FlashHandle flash, QFile &imageFile,
                             u_int32_t offset, u_int32_t address, u_int32_t size)
    : reporter(reporter), file(source.file), function(source.function), filename(source.filename),
      flash(std::move(flash)), imageFile(imageFile), offset(offset), address(address), size(size),
      words(size / wordSize), pageRepairs(size / pageSize + 1, 0)
{
}

bool ImageVerifier::fail(const FlashFailure &failure)
{
    return reporter.failed(failure);
}

bool ImageVerifier::fail(const QString &line)
{
    return reporter.failed(RunFailure{RunOutcome::Kind::Failed, line});
}

ImageVerifier::Outcome ImageVerifier::failed(const FlashFailure &failure)
{
    fail(failure);
    return Outcome::Failed;
}

int ImageVerifier::run()
{
    for (;;) {
        if (!readBack())
            return -1;
        reporter.status(QStringLiteral("Verifying Flash memory content."));
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
    reporter.progress(ReadBackPhase, 0.0f);
    // Taken from the file again on every pass.
    switch (fileBuffer.view(imageFile, offset, size)) {
    case ImageBuffer::View::Ready:
        break;
    case ImageBuffer::View::NoMemory:
        return fail(hexLine(statuslines::allocationError, address));
    case ImageBuffer::View::Unreadable:
        return fail(QStringLiteral("Error reading ") + filename);
    }
    held = fileBuffer.data();
    if (const FlashFailure failure = flash.seek(address))
        return fail(failure);
    const u_int32_t blocks = size / blockSize;
    uchar block[blockSize];
    for (u_int32_t k = 0; k < blocks; ++k) {
        reporter.progress(ReadBackPhase, float(k) / float(blocks));
        if (!readInto(size_t(k) * blockSize, blockSize, block))
            return false;
        reporter.blockLine(statuslines::reading, address + k * blockSize);
    }
    return readInto(size_t(blocks) * blockSize, size - blocks * blockSize, block);
}

// Reads the flash at image offset at: into the copy once there is one,
// otherwise into block, which starts the copy at its first difference.
bool ImageVerifier::readInto(size_t at, size_t length, uchar *block)
{
    const bool copying = held != fileBuffer.data();
    uchar *target = copying ? flashBuffer.data() + at : block;
    if (const FlashFailure failure = flash.readHere(address + u_int32_t(at), target, length))
        return fail(failure);
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
    held = flashBuffer.data();
    return true;
}

ImageVerifier::Outcome ImageVerifier::compare()
{
    u_int32_t w = 0;
    while (w < words) {
        if (w % compareReportInterval == 0)
            reporter.progress(ComparePhase, float(w) / float(words));
        // Equal stretches up to the next report are passed over in one comparison.
        const u_int32_t stretchEnd = std::min(words, w - w % compareReportInterval + compareReportInterval);
        if (std::memcmp(fileBuffer.data() + size_t(w) * wordSize, held + size_t(w) * wordSize,
                        size_t(stretchEnd - w) * wordSize) == 0) {
            w = stretchEnd;
            continue;
        }
        while (wordAt(fileBuffer.data(), w * wordSize) == wordAt(held, w * wordSize))
            ++w;
        const u_int32_t imageOffset = w * wordSize;
        const u_int32_t fileWord = wordAt(fileBuffer.data(), imageOffset);
        const u_int32_t flashWord = wordAt(held, imageOffset);
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
    reporter.blockLine(statuslines::writing, imageOffset);
    if (const FlashFailure failure = flash.seek(wordAddress))
        return failed(failure);
    if (const int error = flashio::writeAll(flash.fd(), &fileWord, sizeof fileWord))
        return failed(FlashFailure::at(FlashFailure::Call::Write, wordAddress, error));
    ::usleep(wordSettleUs);
    if (const FlashFailure failure = flash.seek(wordAddress))
        return failed(failure);
    u_int32_t check = 0;
    if (const FlashFailure failure = flash.readHere(wordAddress, &check, sizeof check))
        return failed(failure);
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
        return reporter.failed(RunFailure{RunOutcome::Kind::VerificationFailed,
                                          hexLine(statuslines::verifyError, address + imageOffset)});
    }
    ++repairs;
    VERIFY_DEBUG << asteriskLine;
    const QString erasing = hexLine(statuslines::erasing, pageAddress);
    VERIFY_DEBUG << erasing;
    reporter.status(erasing, LineKind::Block);
    if (const int error = flashio::erasePage(flash.fd(), pageAddress))
        return fail(FlashFailure::at(FlashFailure::Call::Erase, pageAddress, error));
    reporter.blockLine(statuslines::writing, pageAddress);
    if (const FlashFailure failure = flash.seek(pageAddress))
        return fail(failure);
    VERIFY_DEBUG << hexLine("Writing Flash page at 0x", pageOffset);
    // Past the image's end the buffer holds erased flash, so the page gets 0xFF there.
    if (const int error = flashio::writeAll(flash.fd(), fileBuffer.data() + pageOffset, pageSize))
        return fail(FlashFailure::at(FlashFailure::Call::Write, pageAddress, error));
    VERIFY_DEBUG << dashLineWithBreaks;
    return true;
}
