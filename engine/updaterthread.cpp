#include "updaterthread.h"

#include "flashio.h"
#include "flashlock.h"
#include "imagebuffer.h"
#include "imageverifier.h"
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

UpdaterThread::UpdaterThread(QObject *parent)
    : QObject(parent), trustedDirectories(provenance::defaultTrustedDirectories()), imageWeight(0),
      completedWeight(0)
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

void UpdaterThread::setSnapshot(std::shared_ptr<const UpdateSnapshot> snapshot)
{
    confirmed = std::move(snapshot);
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

void UpdaterThread::setOutcome(std::shared_ptr<RunOutcomeSlot> slot)
{
    outcomeSlot = std::move(slot);
}

void UpdaterThread::setProgressWatch(std::shared_ptr<RunProgress> progress)
{
    progressWatch = std::move(progress);
}

void UpdaterThread::enterStage(RunStage stage)
{
    if (progressWatch)
        progressWatch->enter(stage);
}

void UpdaterThread::failRun(RunOutcome::Kind kind, const QString &line, int error)
{
    outcome.kind = kind;
    outcome.lastLine = line;
    outcome.cause = error != 0 ? flashio::causeText(error) : QString();
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
    return ImageVerifier(*this, QT_MESSAGELOG_FILE, Q_FUNC_INFO, filename, fd, file, offset, address, size)
        .run();
}
