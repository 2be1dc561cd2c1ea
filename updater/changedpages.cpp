#include "changedpages.h"

#include "flashio.h"
#include "imagebuffer.h"
#include "runphases.h"
#include "statuslines.h"
#include "updaterthread.h"
#include "zarndriver.h"

#include <algorithm>
#include <cstring>
#include <QFile>

namespace changedpages {

namespace {

using statuslines::hexLine;
using zarndriver::blockSize;
using zarndriver::pageSize;

u_int32_t pageCount(u_int32_t size)
{
    return size / pageSize + (size % pageSize != 0 ? 1 : 0);
}

bool fail(UpdaterThread &worker, const QString &line)
{
    emit worker.updateStatusText(line);
    return false;
}

bool viewImage(UpdaterThread &worker, const QString &filename, QFile &file, const ImageHeader &image,
               ImageBuffer &buffer)
{
    switch (buffer.view(file, image.offset, image.size)) {
    case ImageBuffer::View::Ready:
        return true;
    case ImageBuffer::View::NoMemory:
        return fail(worker, hexLine(statuslines::allocationError, image.address));
    case ImageBuffer::View::Unreadable:
        break;
    }
    return fail(worker, QStringLiteral("Error reading ") + filename);
}

Action decide(const uchar *flash, const uchar *wanted, size_t length)
{
    if (std::memcmp(flash, wanted, length) == 0)
        return Action::Skip;
    for (size_t i = 0; i < length; ++i) {
        if ((flash[i] & wanted[i]) != wanted[i])
            return Action::EraseAndWrite;
    }
    return Action::Program;
}

} // namespace

bool plan(UpdaterThread &worker, const QString &filename, int fd, QFile &file,
          const QList<ImageHeader> &images, Plan *result, Counts &counts)
{
    emit worker.updateStatusText(QStringLiteral("Comparing Flash memory with the update..."));
    std::vector<uchar> held(pageSize);
    for (int i = 0; i < images.size(); ++i) {
        const ImageHeader &image = images.at(i);
        ImageBuffer wanted;
        if (!viewImage(worker, filename, file, image, wanted))
            return false;
        std::vector<Action> pages(pageCount(image.size), Action::Skip);
        for (u_int32_t k = 0; k < pages.size(); ++k) {
            const u_int32_t start = k * pageSize;
            const u_int32_t length = std::min(pageSize, image.size - start);
            if (const int error = flashio::seek(fd, image.address + start))
                return fail(worker, flashio::failureLine("seeking", image.address + start, error));
            for (u_int32_t at = 0; at < length; at += blockSize) {
                const u_int32_t count = std::min(blockSize, length - at);
                if (const int error = flashio::readAll(fd, held.data() + at, count))
                    return fail(worker, flashio::failureLine("reading", image.address + start + at, error));
            }
            pages[k] = decide(held.data(), wanted.data() + start, length);
            ++counts.pages;
            ++(pages[k] == Action::Skip      ? counts.skipped
               : pages[k] == Action::Program ? counts.programmed
                                             : counts.rewritten);
        }
        result->push_back(std::move(pages));
        emit worker.updateCurrentProgress(int(100 * (i + 1) / images.size()));
    }
    emit worker.updateStatusText(
        QStringLiteral("Pages to write: %1 of %2 (%3 without erasing); %4 already hold "
                       "the update.")
            .arg(counts.rewritten + counts.programmed)
            .arg(counts.pages)
            .arg(counts.programmed)
            .arg(counts.skipped));
    return true;
}

bool write(UpdaterThread &worker, const QString &filename, int fd, QFile &file, const ImageHeader &image,
           const std::vector<Action> &pages)
{
    ImageBuffer wanted;
    if (!viewImage(worker, filename, file, image, wanted))
        return false;
    emit worker.updateStatusText(QStringLiteral("Started erasing Flash memory..."));
    // Two erase passes per page, as the established procedure has them.
    for (int pass = 0; pass < 2; ++pass) {
        for (u_int32_t k = 0; k < pages.size(); ++k) {
            if (pages[k] != Action::EraseAndWrite)
                continue;
            const u_int32_t pageAddress = image.address + k * pageSize;
            worker.reportProgress(ErasePhase, float(k) / float(pages.size()));
            emit worker.updateStatusText(hexLine(statuslines::erasing, pageAddress));
            if (flashio::erasePage(fd, pageAddress) != 0)
                return fail(worker, hexLine(statuslines::eraseError, pageAddress));
        }
    }
    emit worker.updateStatusText(QStringLiteral("Started writing to Flash memory..."));
    for (u_int32_t k = 0; k < pages.size(); ++k) {
        if (pages[k] == Action::Skip)
            continue;
        const u_int32_t start = k * pageSize;
        const u_int32_t length = std::min(pageSize, image.size - start);
        worker.reportProgress(WritePhase, float(k) / float(pages.size()));
        if (const int error = flashio::seek(fd, image.address + start))
            return fail(worker, flashio::failureLine("seeking", image.address + start, error));
        for (u_int32_t at = 0; at < length; at += blockSize) {
            const u_int32_t count = std::min(blockSize, length - at);
            if (const int error = flashio::writeAll(fd, wanted.data() + start + at, count))
                return fail(worker, flashio::failureLine("writing", image.address + start + at, error));
            emit worker.updateStatusText(hexLine(statuslines::writing, image.address + start + at));
        }
    }
    return true;
}

} // namespace changedpages
