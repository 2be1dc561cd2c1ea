#include "changedpages.h"
#include "digest.h"
#include "flashio.h"
#include "flashlock.h"
#include "imagebuffer.h"
#include "provenance.h"
#include "runhistory.h"
#include "runphases.h"
#include "statuslines.h"
#include "updatefilereader.h"
#include "updaterthread.h"
#include "updatesnapshot.h"
#include "zarndriver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <QDebug>
#include <QLatin1String>
#include <QVector>
#include <unistd.h>

using statuslines::hexLine;
using zarndriver::blockSize;

namespace {

constexpr char finalCheckText[] = "Reading back the whole update...";

class FlashDevice
{
public:
    FlashDevice() : fd(::open(zarndriver::flashPath, O_RDWR)), error(fd < 0 ? errno : 0) {}
    ~FlashDevice()
    {
        if (fd >= 0)
            ::close(fd);
    }
    FlashDevice(const FlashDevice &) = delete;
    FlashDevice &operator=(const FlashDevice &) = delete;

    const int fd;
    const int error;
};

} // namespace

// After every image has been verified on its own, the whole update is read
// back once more: a later image's erasing, or anything else, may have touched
// an earlier one. Each image's own bytes are compared with the confirmed ones;
// the 32 bytes programmed after them belong to nothing that must be kept.
int UpdaterThread::readBackUpdate(int fd, QFile &file, const QList<imgHeader> &images)
{
    enterStage(RunStage::FinalCheck);
    emit updateStatusText(QLatin1String(finalCheckText));
    quint64 total = 0;
    for (const imgHeader &image : images)
        total += image.size - updatefilereader::headerSize;
    quint64 done = 0;
    int shown = -1;
    uchar block[blockSize];
    for (int i = 0; i < images.size(); ++i) {
        const imgHeader &image = images.at(i);
        const u_int32_t length = image.size - updatefilereader::headerSize;
        ImageBuffer confirmed;
        if (confirmed.view(file, image.offset, length) != ImageBuffer::View::Ready) {
            failRun(RunOutcome::Kind::Failed, QStringLiteral("Error reading ") + filename);
            return -1;
        }
        if (const int error = flashio::seek(fd, image.address)) {
            failRun(RunOutcome::Kind::Failed, flashio::failureLine("seeking", image.address, error), error);
            return -1;
        }
        for (u_int32_t at = 0; at < length; at += blockSize) {
            const u_int32_t count = std::min(blockSize, length - at);
            if (const int error = flashio::readAll(fd, block, count)) {
                failRun(RunOutcome::Kind::Failed, flashio::failureLine("reading", image.address + at, error),
                        error);
                return -1;
            }
            const uchar *expected = confirmed.data() + at;
            if (std::memcmp(block, expected, count) != 0) {
                const u_int32_t first =
                    u_int32_t(std::mismatch(block, block + count, expected).first - block);
                failRun(
                    RunOutcome::Kind::VerificationFailed,
                    QStringLiteral("Error verifying ") + updatefilereader::imageLabel(images, i) +
                        hexLine(": Flash memory differs from the update at 0x", image.address + at + first));
                return -1;
            }
            done += count;
            const int percent = int(done * 100 / std::max<quint64>(total, 1));
            if (percent != shown)
                emit updateCurrentProgress(shown = percent);
        }
    }
    return 0;
}

void UpdaterThread::process()
{
    outcome = RunOutcome();
    runUpdate();
    provenance::releaseThreadState();
    if (outcomeSlot)
        outcomeSlot->publish(outcome);
    emit finished();
}

// Every way out of here leaves through a return, after which the device and
// the file are closed; process() then reports the end once.
void UpdaterThread::runUpdate()
{
    emit updateStatusText(QStringLiteral("Updater initialization..."));
    reportProgress(ErasePhase, 0.0f);

    // The bytes the operator confirmed, or, for a run started without a
    // confirmation, the file as it is now: either way one fixed copy, so that
    // what is written and what is verified can never part.
    const std::shared_ptr<const UpdateSnapshot> snapshot =
        confirmed ? confirmed : UpdateSnapshot::capture(filename);
    QList<imgHeader> images;
    QFile file;
    const QString refusal = snapshot->refusal(&images, file);
    if (!refusal.isEmpty()) {
        if (!file.isOpen())
            qDebug() << "Failed opening file: " << filename;
        failRun(RunOutcome::Kind::RefusedFile, refusal);
        return;
    }
    // Judged again here, not taken from the window: a run started without the
    // window, or a signature changed since the confirmation, must not reach the flash.
    const provenance::Verdict origin = provenance::check(*snapshot, trustedDirectories);
    if (!origin.accepted()) {
        failRun(RunOutcome::Kind::RefusedOrigin, origin.refusal);
        return;
    }

    FlashDevice device;
    if (device.fd < 0) {
        // The established line when the driver is not loaded; its cause beside it otherwise.
        const QString cause = flashio::openFailureCause(device.error);
        failRun(RunOutcome::Kind::NoDevice,
                QStringLiteral("Error opening ") + QLatin1String(zarndriver::flashPath) +
                    (cause.isEmpty() ? QString() : QStringLiteral(": ") + cause),
                device.error);
        return;
    }
    // Held until the device closes as the run ends, however it ends.
    const flashlock::Attempt lock = flashlock::tryLock(device.fd);
    if (lock.state == flashlock::Attempt::Busy) {
        failRun(RunOutcome::Kind::Busy, flashlock::busyText(lock.holder));
        return;
    }
    if (lock.state == flashlock::Attempt::Failed) {
        failRun(RunOutcome::Kind::Failed,
                QStringLiteral("Error locking ") + QLatin1String(zarndriver::flashPath) +
                    QStringLiteral(": ") + flashio::causeText(lock.error),
                lock.error);
        return;
    }

    quint64 totalSize = 0;
    for (const imgHeader &image : images)
        totalSize += image.size;
    QVector<float> shares;
    shares.reserve(images.size());
    for (const imgHeader &image : images)
        shares.append(totalSize != 0 ? float(image.size) / float(totalSize) : 1.0f / float(images.size()));

    // Written to disk before the flash is touched, completed however the run ends.
    const auto recording =
        recorder
            ? recorder->begin(outcome, filename, QString::fromLatin1(provenance::sha256(*snapshot)), images)
            : nullptr;

    // A refusal is already reported; the erase or the verification then fails and ends the run.
    unlockFlash(device.fd);

    changedpages::Plan plan;
    const bool planned =
        !changes || changedpages::plan(*this, filename, device.fd, file, images, &plan, *changes);
    if (changes) {
        outcome.pages = changes->pages;
        outcome.pagesSkipped = changes->skipped;
        outcome.pagesWritten = changes->rewritten + changes->programmed;
        outcome.pagesProgrammed = changes->programmed;
    }
    if (!planned)
        return;

    // From here on the flash may be changed; an update of the changed pages
    // changes it only where its plan writes.
    outcome.flashTouched =
        !changes || std::any_of(plan.begin(), plan.end(), [](const std::vector<changedpages::Action> &pages) {
            return std::any_of(pages.begin(), pages.end(), [](changedpages::Action action) {
                return action != changedpages::Action::Skip;
            });
        });
    completedWeight = 0;
    for (int i = 0; i < images.size(); ++i) {
        const imgHeader &image = images.at(i);
        imageWeight = shares.at(i);
        if (changes) {
            if (!changedpages::write(*this, filename, device.fd, file, image, plan.at(size_t(i))))
                return;
        } else {
            enterStage(RunStage::Erasing);
            emit updateStatusText(QStringLiteral("Started erasing Flash memory..."));
            // Two erase passes per image are part of the established procedure.
            if (eraseFlash(device.fd, image.address, image.size) < 0)
                return;
            if (eraseFlash(device.fd, image.address, image.size) < 0)
                return;
            enterStage(RunStage::Writing);
            emit updateStatusText(QStringLiteral("Started writing to Flash memory..."));
            if (writeToFlash(device.fd, file, image.offset, image.address, image.size) < 0)
                return;
        }
        // An image none of whose pages was written was compared byte for byte a
        // moment ago, and the final read-back reads it once more.
        const bool untouched = changes && std::all_of(plan.at(size_t(i)).begin(), plan.at(size_t(i)).end(),
                                                      [](changedpages::Action action) {
                                                          return action == changedpages::Action::Skip;
                                                      });
        if (!untouched) {
            enterStage(RunStage::Verifying);
            emit updateStatusText(QStringLiteral("Verifying Flash memory..."));
            if (verifyAndRepair(device.fd, file, image.offset, image.address, image.size) < 0)
                return;
        }
        completedWeight += imageWeight;
    }
    if (readBackUpdate(device.fd, file, images) < 0)
        return;

    file.close();
    outcome.kind = RunOutcome::Kind::Succeeded;
    outcome.lastLine = QLatin1String(updateDoneText);
    emit updateStatusText(outcome.lastLine);
    emit updateCurrentProgress(100);
    emit updateTotalProgress(100);
}
