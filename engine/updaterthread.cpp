#include "updaterthread.h"

#include "flashio.h"
#include "imagebuffer.h"
#include "imageverifier.h"
#include "provenance.h"
#include "reportpacer.h"
#include "reportsending.h"
#include "statuslines.h"
#include "updatefilereader.h"
#include "zarndriver.h"

#include <QDebug>
#include <QMetaMethod>

using statuslines::hexLine;
using zarndriver::blockSize;
using zarndriver::pageSize;

class UpdaterThread::Reporter final : public RunReporter
{
public:
    explicit Reporter(UpdaterThread &worker) : worker(worker) {}

    void status(const QString &line, LineKind kind) override { worker.sendLine(line, kind); }
    void progress(Phase phase, float fraction) override { worker.reportProgress(phase, fraction); }
    void currentProgress(int percent) override
    {
        const reportsending::Report report;
        emit worker.updateCurrentProgress(percent);
    }
    void stage(RunStage stage) override { worker.enterStage(stage); }
    void fail(const RunFailure &failure) override { worker.failRun(failure); }

protected:
    // The command line shows the steps alone: a line for every block would
    // be built and sent to no one.
    bool showsBlockLines() const override
    {
        static const QMetaMethod statusText = QMetaMethod::fromSignal(&UpdaterThread::updateStatusText);
        return worker.isSignalConnected(statusText);
    }

private:
    UpdaterThread &worker;
};

UpdaterThread::UpdaterThread(QObject *parent)
    : QObject(parent), imageWeight(0), completedWeight(0), reporter(std::make_unique<Reporter>(*this))
{
}

UpdaterThread::~UpdaterThread() = default;

void UpdaterThread::setFilename(QString filename)
{
    this->filename = filename;
}

RunReporter &UpdaterThread::reporting()
{
    return *reporter;
}

void UpdaterThread::setup(RunSetup setup)
{
    run = std::move(setup);
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

void UpdaterThread::sendLine(const QString &line, LineKind kind)
{
    if (kind == LineKind::Step && run.stepLine)
        run.stepLine(line);
    const reportsending::Report report;
    emit updateStatusText(line);
}

void UpdaterThread::enterStage(RunStage stage)
{
    if (run.progress)
        run.progress->enter(stage);
    if (stage == RunStage::Erasing)
        ++stageImage;
    if (run.stageEntered)
        run.stageEntered(stageImage, stage);
}

void UpdaterThread::failRun(const RunFailure &failure)
{
    outcome.kind = failure.kind;
    outcome.lastLine = failure.line;
    outcome.cause = failure.error != 0 ? flashio::causeText(failure.error) : QString();
    outcome.lineNamesCause = failure.lineNamesCause;
    sendLine(failure.line, LineKind::Step);
}

void UpdaterThread::reportProgress(int phase, float fraction)
{
    if (run.pacer)
        run.pacer->beforeReport();
    {
        const reportsending::Report report;
        emit updateCurrentProgress(int(100.0f * fraction));
    }
    const float total =
        ((fraction * phaseShare[phase] + phaseStart[phase]) * imageWeight + completedWeight) * 100.0f;
    const reportsending::Report report;
    emit updateTotalProgress(int(total));
}

int UpdaterThread::unlockFlash(int fd)
{
    qDebug() << "int UpdaterThread::unlockFlash(int)";
    const int result = flashio::unlock(fd) == 0 ? 0 : -1;
    if (result < 0)
        sendLine(QStringLiteral("Error unlocking Flash memory."), LineKind::Step);
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
        reporting().blockLine(statuslines::erasing, pageAddress);
        if (const int error = flashio::erasePage(fd, pageAddress)) {
            failRun({RunOutcome::Kind::Failed, hexLine(statuslines::eraseError, pageAddress), error});
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
        failRun({RunOutcome::Kind::Failed, hexLine(statuslines::allocationError, address)});
        return -1;
    case ImageBuffer::View::Unreadable:
        failRun({RunOutcome::Kind::Failed, QStringLiteral("Error reading ") + filename});
        return -1;
    }
    if (const int error = flashio::seek(fd, address)) {
        failRun(RunFailure::of(FlashFailure::at(FlashFailure::Call::Seek, address, error)));
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
            failRun(RunFailure::of(FlashFailure::at(FlashFailure::Call::Write, blockAddress, error)));
            return -1;
        }
        if (k < blocks)
            reporting().blockLine(statuslines::writing, blockAddress);
    }
    return 0;
}

int UpdaterThread::verifyAndRepair(int fd, QFile &file, u_int32_t offset, u_int32_t address, u_int32_t size)
{
    qDebug() << "int UpdaterThread::verifyAndRepair(int, QFile&, u_int32_t, u_int32_t, u_int32_t)";
    const ImageVerifier::Source source{QT_MESSAGELOG_FILE, Q_FUNC_INFO, filename};
    return ImageVerifier(reporting(), source, FlashHandle::borrow(fd), file, offset, address, size).run();
}
