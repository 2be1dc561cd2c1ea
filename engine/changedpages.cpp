#include "changedpages.h"

#include "flashio.h"
#include "imagebuffer.h"
#include "runphases.h"
#include "statuslines.h"
#include "updaterthread.h"
#include "zarndriver.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <numeric>
#include <QFile>

namespace changedpages {

namespace {

using statuslines::hexLine;
using zarndriver::blockSize;
using zarndriver::pageSize;

constexpr quint64 addressSpaceEnd = quint64(1) << 32;
constexpr uchar erasedByte = 0xFF;

u_int32_t pageCount(u_int32_t size)
{
    return size / pageSize + (size % pageSize != 0 ? 1 : 0);
}

// Every failure here is of a device call or the file, with its errno where there is one.
bool fail(UpdaterThread &worker, const QString &line, int error = 0)
{
    worker.failRun(RunOutcome::Kind::Failed, line, error);
    return false;
}

// length bytes of the image from start on, as the full update programs them.
bool viewPart(UpdaterThread &worker, const QString &filename, QFile &file, const ImageHeader &image,
              u_int32_t start, u_int32_t length, ImageBuffer &buffer)
{
    // A view reads from past the header at its offset, so a part is the view of
    // a block whose header would sit start bytes further on.
    switch (buffer.view(file, image.offset + start, length)) {
    case ImageBuffer::View::Ready:
        return true;
    case ImageBuffer::View::NoMemory:
        return fail(worker, hexLine(statuslines::allocationError, image.address));
    case ImageBuffer::View::Unreadable:
        break;
    }
    return fail(worker, QStringLiteral("Error reading ") + filename);
}

// Programming only clears bits.
void program(uchar *flash, const uchar *bytes, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        flash[i] &= bytes[i];
}

// One page of one image as the full update treats it: erased for a page from
// its start (the device stops at the end of the address space), then
// programmed from its start with the image's bytes that fall in it.
struct Unit
{
    int image = 0;
    u_int32_t page = 0; // counted from the image's own address
    quint64 start = 0;
    quint64 erasedEnd = 0;
    u_int32_t length = 0; // the image's bytes programmed from start
    size_t cluster = 0;
    // The flash already holds the image's bytes here, as its verification wants them.
    bool holdsImage = false;
};

// Pages whose erases overlap, directly or through others. Nothing the run does
// for any other page reaches their flash, so what the full update leaves there
// depends on them alone, and they are all treated alike.
struct Cluster
{
    std::vector<size_t> units; // in the order the run reaches them
    // Programming alone, image after image, leaves what the full update does,
    // and every image's verification finds its bytes on the way.
    bool programmable = false;
    Action action = Action::Skip;
};

std::vector<Unit> unitsOf(const QList<ImageHeader> &images)
{
    std::vector<Unit> units;
    for (int i = 0; i < images.size(); ++i) {
        const ImageHeader &image = images.at(i);
        for (u_int32_t k = 0; k < pageCount(image.size); ++k) {
            Unit unit;
            unit.image = i;
            unit.page = k;
            unit.start = quint64(image.address) + quint64(k) * pageSize;
            unit.erasedEnd = std::min(unit.start + pageSize, addressSpaceEnd);
            unit.length = std::min(pageSize, image.size - k * pageSize);
            units.push_back(unit);
        }
    }
    return units;
}

std::vector<Cluster> clustersOf(std::vector<Unit> &units)
{
    std::vector<size_t> byAddress(units.size());
    std::iota(byAddress.begin(), byAddress.end(), size_t(0));
    std::stable_sort(byAddress.begin(), byAddress.end(),
                     [&](size_t a, size_t b) { return units[a].start < units[b].start; });
    std::vector<Cluster> clusters;
    quint64 reach = 0;
    for (const size_t u : byAddress) {
        if (clusters.empty() || units[u].start >= reach) {
            clusters.emplace_back();
            reach = 0;
        }
        clusters.back().units.push_back(u);
        units[u].cluster = clusters.size() - 1;
        reach = std::max(reach, units[u].erasedEnd);
    }
    // Units were made image by image, page by page: the run's order.
    for (Cluster &cluster : clusters)
        std::sort(cluster.units.begin(), cluster.units.end());
    return clusters;
}

// Reads the cluster's flash once and decides from it what its pages need.
bool judge(UpdaterThread &worker, const QString &filename, int fd, QFile &file,
           const QList<ImageHeader> &images, std::vector<Unit> &units, Cluster &cluster)
{
    quint64 low = addressSpaceEnd;
    quint64 high = 0;
    for (const size_t u : cluster.units) {
        low = std::min(low, units[u].start);
        high = std::max(high, units[u].erasedEnd);
    }
    const size_t span = size_t(high - low);
    std::unique_ptr<uchar[]> held(new (std::nothrow) uchar[span]);
    std::unique_ptr<uchar[]> target(new (std::nothrow) uchar[span]);
    if (!held || !target)
        return fail(worker, hexLine(statuslines::allocationError,
                                    images.at(units[cluster.units.front()].image).address));
    if (const int error = flashio::seek(fd, u_int32_t(low)))
        return fail(worker, flashio::failureLine("seeking", u_int32_t(low), error), error);
    for (size_t at = 0; at < span; at += blockSize) {
        const size_t count = std::min<size_t>(blockSize, span - at);
        if (const int error = flashio::readAll(fd, held.get() + at, count))
            return fail(worker, flashio::failureLine("reading", u_int32_t(low + at), error), error);
    }
    std::vector<ImageBuffer> parts(cluster.units.size());
    for (size_t n = 0; n < parts.size(); ++n) {
        Unit &unit = units[cluster.units[n]];
        if (!viewPart(worker, filename, file, images.at(unit.image), unit.page * pageSize, unit.length,
                      parts[n]))
            return false;
        unit.holdsImage = std::memcmp(held.get() + (unit.start - low), parts[n].data(), unit.length) == 0;
    }

    // What the full update leaves here, the erases of an image's pages being
    // disjoint and each page's bytes within its own erase.
    std::memcpy(target.get(), held.get(), span);
    for (size_t n = 0; n < parts.size(); ++n) {
        const Unit &unit = units[cluster.units[n]];
        std::memset(target.get() + (unit.start - low), erasedByte, size_t(unit.erasedEnd - unit.start));
        program(target.get() + (unit.start - low), parts[n].data(), unit.length);
    }
    const bool holdsUpdate = std::memcmp(held.get(), target.get(), span) == 0;

    // Programming alone, on the flash's copy, now needed no more. Each image's
    // verification, right after its writes, must find its bytes: a repair
    // would erase pages the plan leaves alone.
    bool verifies = true;
    for (size_t n = 0; n < parts.size(); ++n) {
        const Unit &unit = units[cluster.units[n]];
        uchar *at = held.get() + (unit.start - low);
        program(at, parts[n].data(), unit.length);
        verifies = verifies && std::memcmp(at, parts[n].data(), unit.length) == 0;
    }
    cluster.programmable = verifies && std::memcmp(held.get(), target.get(), span) == 0;
    cluster.action = holdsUpdate            ? Action::Skip
                     : cluster.programmable ? Action::Program
                                            : Action::EraseAndWrite;
    return true;
}

// An image written anywhere is verified whole, and the verification repairs
// what differs; so wherever such an image's pages are to be left alone, the
// flash must hold its bytes there. It may not, where a later image takes the
// last of them: those pages are then written after all, which makes more
// images written, until nothing changes.
void settle(const std::vector<Unit> &units, std::vector<Cluster> &clusters, int imageCount)
{
    std::vector<bool> verified(size_t(imageCount), false);
    for (const Unit &unit : units)
        if (clusters[unit.cluster].action != Action::Skip)
            verified[size_t(unit.image)] = true;
    for (bool again = true; again;) {
        again = false;
        for (const Unit &unit : units) {
            Cluster &cluster = clusters[unit.cluster];
            if (cluster.action != Action::Skip || unit.holdsImage || !verified[size_t(unit.image)])
                continue;
            cluster.action = cluster.programmable ? Action::Program : Action::EraseAndWrite;
            for (const size_t u : cluster.units)
                verified[size_t(units[u].image)] = true;
            again = true;
        }
    }
}

} // namespace

bool plan(UpdaterThread &worker, const QString &filename, int fd, QFile &file,
          const QList<ImageHeader> &images, Plan *result, Counts &counts)
{
    worker.enterStage(RunStage::Comparing);
    emit worker.updateStatusText(QStringLiteral("Comparing Flash memory with the update..."));
    std::vector<Unit> units = unitsOf(images);
    std::vector<Cluster> clusters = clustersOf(units);
    for (size_t c = 0; c < clusters.size(); ++c) {
        if (!judge(worker, filename, fd, file, images, units, clusters[c]))
            return false;
        emit worker.updateCurrentProgress(int(100 * (c + 1) / clusters.size()));
    }
    settle(units, clusters, images.size());

    result->clear();
    for (const ImageHeader &image : images)
        result->emplace_back(pageCount(image.size), Action::Skip);
    for (const Unit &unit : units) {
        const Action action = clusters[unit.cluster].action;
        (*result)[size_t(unit.image)][unit.page] = action;
        ++counts.pages;
        ++(action == Action::Skip      ? counts.skipped
           : action == Action::Program ? counts.programmed
                                       : counts.rewritten);
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
    if (!viewPart(worker, filename, file, image, 0, image.size, wanted))
        return false;
    worker.enterStage(RunStage::Erasing);
    emit worker.updateStatusText(QStringLiteral("Started erasing Flash memory..."));
    // Two erase passes per page, as the established procedure has them.
    for (int pass = 0; pass < 2; ++pass) {
        for (u_int32_t k = 0; k < pages.size(); ++k) {
            if (pages[k] != Action::EraseAndWrite)
                continue;
            const u_int32_t pageAddress = image.address + k * pageSize;
            worker.reportProgress(ErasePhase, float(k) / float(pages.size()));
            emit worker.updateStatusText(hexLine(statuslines::erasing, pageAddress));
            if (const int error = flashio::erasePage(fd, pageAddress))
                return fail(worker, hexLine(statuslines::eraseError, pageAddress), error);
        }
    }
    worker.enterStage(RunStage::Writing);
    emit worker.updateStatusText(QStringLiteral("Started writing to Flash memory..."));
    for (u_int32_t k = 0; k < pages.size(); ++k) {
        if (pages[k] == Action::Skip)
            continue;
        const u_int32_t start = k * pageSize;
        const u_int32_t length = std::min(pageSize, image.size - start);
        worker.reportProgress(WritePhase, float(k) / float(pages.size()));
        if (const int error = flashio::seek(fd, image.address + start))
            return fail(worker, flashio::failureLine("seeking", image.address + start, error), error);
        for (u_int32_t at = 0; at < length; at += blockSize) {
            const u_int32_t count = std::min(blockSize, length - at);
            if (const int error = flashio::writeAll(fd, wanted.data() + start + at, count))
                return fail(worker, flashio::failureLine("writing", image.address + start + at, error),
                            error);
            emit worker.updateStatusText(hexLine(statuslines::writing, image.address + start + at));
        }
    }
    return true;
}

} // namespace changedpages
