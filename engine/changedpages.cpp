#include "changedpages.h"

#include "flashhandle.h"
#include "flashio.h"
#include "imagebuffer.h"
#include "runphases.h"
#include "runreporter.h"
#include "statuslines.h"
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

// Every failure here is of a device call or the file.
bool fail(RunReporter &reporter, const QString &line)
{
    return reporter.failed(RunFailure{RunOutcome::Kind::Failed, line});
}

// length bytes of the image from start on, as the full update programs them.
bool viewPart(RunReporter &reporter, const QString &filename, QFile &file, const ImageHeader &image,
              u_int32_t start, u_int32_t length, ImageBuffer &buffer)
{
    // A view reads from past the header at its offset, so a part is the view of
    // a block whose header would sit start bytes further on.
    switch (buffer.view(file, image.offset + start, length)) {
    case ImageBuffer::View::Ready:
        return true;
    case ImageBuffer::View::NoMemory:
        return fail(reporter, hexLine(statuslines::allocationError, image.address));
    case ImageBuffer::View::Unreadable:
        break;
    }
    return fail(reporter, QStringLiteral("Error reading ") + filename);
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
bool judge(RunReporter &reporter, const FlashHandle &flash, const QString &filename, QFile &file,
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
        return fail(reporter, hexLine(statuslines::allocationError,
                                      images.at(units[cluster.units.front()].image).address));
    if (const FlashFailure failure = flash.read(u_int32_t(low), held.get(), span))
        return reporter.failed(failure);
    std::vector<ImageBuffer> parts(cluster.units.size());
    for (size_t n = 0; n < parts.size(); ++n) {
        Unit &unit = units[cluster.units[n]];
        if (!viewPart(reporter, filename, file, images.at(unit.image), unit.page * pageSize, unit.length,
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

int Plan::count(Action action) const
{
    int total = 0;
    for (const std::vector<Action> &pages : actions)
        total += int(std::count(pages.begin(), pages.end(), action));
    return total;
}

int Plan::pages() const
{
    int total = 0;
    for (const std::vector<Action> &pages : actions)
        total += int(pages.size());
    return total;
}

bool Plan::touches(int image) const
{
    const std::vector<Action> &pages = actions.at(size_t(image));
    return std::any_of(pages.begin(), pages.end(), [](Action action) { return action != Action::Skip; });
}

bool Plan::touchesFlash() const
{
    for (size_t i = 0; i < actions.size(); ++i)
        if (touches(int(i)))
            return true;
    return false;
}

void Plan::count(Counts &counts) const
{
    counts.pages += pages();
    counts.skipped += skipped();
    counts.programmed += programmed();
    counts.rewritten += count(Action::EraseAndWrite);
}

Plan Plan::full(const QList<ImageHeader> &images)
{
    Plan plan;
    for (const ImageHeader &image : images)
        plan.actions.emplace_back(pageCount(image.size), Action::EraseAndWrite);
    return plan;
}

std::optional<Plan> plan(RunReporter &reporter, const FlashHandle &flash, const QString &filename,
                         QFile &file, const QList<ImageHeader> &images)
{
    reporter.stage(RunStage::Comparing);
    reporter.status(QStringLiteral("Comparing Flash memory with the update..."));
    std::vector<Unit> units = unitsOf(images);
    std::vector<Cluster> clusters = clustersOf(units);
    for (size_t c = 0; c < clusters.size(); ++c) {
        if (!judge(reporter, flash, filename, file, images, units, clusters[c]))
            return std::nullopt;
        reporter.currentProgress(int(100 * (c + 1) / clusters.size()));
    }
    settle(units, clusters, images.size());

    Plan result;
    for (const ImageHeader &image : images)
        result.actions.emplace_back(pageCount(image.size), Action::Skip);
    for (const Unit &unit : units)
        result.actions[size_t(unit.image)][unit.page] = clusters[unit.cluster].action;
    reporter.status(QStringLiteral("Pages to write: %1 of %2 (%3 without erasing); %4 already hold "
                                   "the update.")
                        .arg(result.written())
                        .arg(result.pages())
                        .arg(result.programmed())
                        .arg(result.skipped()));
    return result;
}

bool write(RunReporter &reporter, const FlashHandle &flash, const QString &filename, QFile &file,
           const ImageHeader &image, const std::vector<Action> &pages)
{
    ImageBuffer wanted;
    if (!viewPart(reporter, filename, file, image, 0, image.size, wanted))
        return false;
    reporter.stage(RunStage::Erasing);
    reporter.status(QStringLiteral("Started erasing Flash memory..."));
    // Two erase passes per page, as the established procedure has them.
    for (int pass = 0; pass < 2; ++pass) {
        for (u_int32_t k = 0; k < pages.size(); ++k) {
            if (pages[k] != Action::EraseAndWrite)
                continue;
            const u_int32_t pageAddress = image.address + k * pageSize;
            reporter.progress(ErasePhase, float(k) / float(pages.size()));
            reporter.blockLine(statuslines::erasing, pageAddress);
            if (const int error = flashio::erasePage(flash.fd(), pageAddress))
                return reporter.failed(RunFailure{RunOutcome::Kind::Failed,
                                                  hexLine(statuslines::eraseError, pageAddress), error});
        }
    }
    reporter.stage(RunStage::Writing);
    reporter.status(QStringLiteral("Started writing to Flash memory..."));
    for (u_int32_t k = 0; k < pages.size(); ++k) {
        if (pages[k] == Action::Skip)
            continue;
        const u_int32_t start = k * pageSize;
        const u_int32_t length = std::min(pageSize, image.size - start);
        reporter.progress(WritePhase, float(k) / float(pages.size()));
        if (const FlashFailure failure = flash.seek(image.address + start))
            return reporter.failed(failure);
        for (u_int32_t at = 0; at < length; at += blockSize) {
            const u_int32_t count = std::min(blockSize, length - at);
            if (const int error = flashio::writeAll(flash.fd(), wanted.data() + start + at, count))
                return reporter.failed(
                    FlashFailure::at(FlashFailure::Call::Write, image.address + start + at, error));
            reporter.blockLine(statuslines::writing, image.address + start + at);
        }
    }
    return true;
}

} // namespace changedpages
