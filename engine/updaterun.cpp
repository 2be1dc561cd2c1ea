#include "changedpages.h"
#include "digest.h"
#include "flashhandle.h"
#include "imagebuffer.h"
#include "provenance.h"
#include "reportsending.h"
#include "runrecorder.h"
#include "statuslines.h"
#include "updatefilereader.h"
#include "updaterthread.h"
#include "updatesnapshot.h"

#include <algorithm>
#include <cstring>
#include <QDebug>
#include <QLatin1String>
#include <QVector>

using statuslines::hexLine;

namespace {

constexpr char finalCheckText[] = "Reading back the whole update...";

} // namespace

// After every image has been verified on its own, the whole update is read
// back once more: a later image's erasing, or anything else, may have touched
// an earlier one. Each image's own bytes are compared with the confirmed ones;
// the 32 bytes programmed after them belong to nothing that must be kept.
int UpdaterThread::readBackUpdate(const FlashHandle &flash, QFile &file, const QList<imgHeader> &images)
{
    enterStage(RunStage::FinalCheck);
    sendLine(QLatin1String(finalCheckText), LineKind::Step);
    quint64 total = 0;
    for (const imgHeader &image : images)
        total += image.size - updatefilereader::headerSize;
    quint64 done = 0;
    int shown = -1;
    for (int i = 0; i < images.size(); ++i) {
        const imgHeader &image = images.at(i);
        const u_int32_t length = image.size - updatefilereader::headerSize;
        ImageBuffer confirmed;
        if (confirmed.view(file, image.offset, length) != ImageBuffer::View::Ready) {
            failRun({RunOutcome::Kind::Failed, QStringLiteral("Error reading ") + filename});
            return -1;
        }
        bool equal = true;
        const FlashFailure failure =
            flash.read(image.address, length, [&](size_t at, const uchar *block, size_t count) {
                const uchar *expected = confirmed.data() + at;
                if (std::memcmp(block, expected, count) != 0) {
                    const auto first = u_int32_t(std::mismatch(block, block + count, expected).first - block);
                    failRun({RunOutcome::Kind::VerificationFailed,
                             QStringLiteral("Error verifying ") + updatefilereader::imageLabel(images, i) +
                                 hexLine(": Flash memory differs from the update at 0x",
                                         image.address + u_int32_t(at) + first)});
                    return equal = false;
                }
                done += count;
                const int percent = int(done * 100 / std::max<quint64>(total, 1));
                if (percent != shown) {
                    const reportsending::Report report;
                    emit updateCurrentProgress(shown = percent);
                }
                return true;
            });
        if (failure) {
            failRun(RunFailure::of(failure));
            return -1;
        }
        if (!equal)
            return -1;
    }
    return 0;
}

void UpdaterThread::process()
{
    outcome = RunOutcome();
    stageImage = 0;
    runUpdate();
    provenance::releaseThreadState();
    if (run.outcome)
        run.outcome->publish(outcome);
    emit finished();
}

// Every way out of here leaves through a return, after which the device and
// the file are closed; process() then reports the end once.
void UpdaterThread::runUpdate()
{
    sendLine(QStringLiteral("Updater initialization..."), LineKind::Step);
    reportProgress(ErasePhase, 0.0f);

    // The bytes the operator confirmed, or, for a run started without a
    // confirmation, the file as it is now: either way one fixed copy, so that
    // what is written and what is verified can never part.
    const std::shared_ptr<const UpdateSnapshot> snapshot =
        run.snapshot ? run.snapshot : UpdateSnapshot::capture(filename);
    QList<imgHeader> images;
    QFile file;
    if (!readImages(*snapshot, &images, file))
        return;

    // Held until the run ends, however it ends.
    const FlashHandle flash(FlashHandle::Mode::ReadWrite);
    if (!flash.ready()) {
        failRun(RunFailure::of(flash.failure()));
        return;
    }

    quint64 totalSize = 0;
    for (const imgHeader &image : images)
        totalSize += image.size;
    QVector<float> shares;
    shares.reserve(images.size());
    for (const imgHeader &image : images)
        shares.append(totalSize != 0 ? float(image.size) / float(totalSize) : 1.0f / float(images.size()));

    // The copies that let an update cut short be finished or undone, and the
    // entry that names them, are on disk before the flash is unlocked.
    if (!keepRecoveryCopies(*snapshot, flash, images))
        return;
    const auto recording =
        run.recorder ? run.recorder->begin(outcome, filename,
                                           QString::fromLatin1(provenance::sha256(*snapshot)), images)
                     : nullptr;

    // A refusal is already reported; the erase or the verification then fails and ends the run.
    unlockFlash(flash.fd());

    changedpages::Plan plan;
    if (run.onlyChanged) {
        // Nothing planned yet: a plan that cannot be made counts no pages.
        outcome.pages = outcome.pagesSkipped = outcome.pagesWritten = outcome.pagesProgrammed = 0;
        std::optional<changedpages::Plan> planned =
            changedpages::plan(reporting(), flash, filename, file, images);
        if (!planned)
            return;
        plan = std::move(*planned);
        plan.count(*run.onlyChanged);
        outcome.pages = plan.pages();
        outcome.pagesSkipped = plan.skipped();
        outcome.pagesWritten = plan.written();
        outcome.pagesProgrammed = plan.programmed();
    }

    // From here on the flash may be changed; an update of the changed pages
    // changes it only where its plan writes.
    outcome.flashTouched = !run.onlyChanged || plan.touchesFlash();
    completedWeight = 0;
    for (int i = 0; i < images.size(); ++i) {
        const imgHeader &image = images.at(i);
        // A pre-image's page is exactly its bytes; an image's block is written as it always has been.
        const u_int32_t span = run.restoring ? image.size - updatefilereader::headerSize : image.size;
        imageWeight = shares.at(i);
        if (run.onlyChanged) {
            if (!changedpages::write(reporting(), flash, filename, file, image, plan.actions.at(size_t(i))))
                return;
        } else {
            enterStage(RunStage::Erasing);
            sendLine(QStringLiteral("Started erasing Flash memory..."), LineKind::Step);
            // Two erase passes per image are part of the established procedure.
            if (eraseFlash(flash.fd(), image.address, span) < 0)
                return;
            if (eraseFlash(flash.fd(), image.address, span) < 0)
                return;
            enterStage(RunStage::Writing);
            sendLine(QStringLiteral("Started writing to Flash memory..."), LineKind::Step);
            if (writeToFlash(flash.fd(), file, image.offset, image.address, span) < 0)
                return;
        }
        // An image none of whose pages was written was compared byte for byte a
        // moment ago, and the final read-back reads it once more.
        if (!run.onlyChanged || plan.touches(i)) {
            enterStage(RunStage::Verifying);
            sendLine(QStringLiteral("Verifying Flash memory..."), LineKind::Step);
            if (verifyAndRepair(flash.fd(), file, image.offset, image.address, span) < 0)
                return;
        }
        completedWeight += imageWeight;
    }
    if (readBackUpdate(flash, file, images) < 0)
        return;

    file.close();
    outcome.kind = RunOutcome::Kind::Succeeded;
    outcome.lastLine = QLatin1String(updateDoneText);
    sendLine(outcome.lastLine, LineKind::Step);
    emit updateCurrentProgress(100);
    emit updateTotalProgress(100);
}
