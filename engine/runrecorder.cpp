#include "runrecorder.h"

#include "imageheader.h"
#include "imagetext.h"

#include <pwd.h>
#include <QDateTime>
#include <QFileInfo>
#include <unistd.h>

RunRecorder::RunRecorder(RunHistory history, QString program)
    : history(std::move(history)), program(std::move(program))
{
}

void RunRecorder::notRecorded(RunOutcome &outcome, const QString &error) const
{
    if (outcome.historyError.isEmpty())
        outcome.historyError = error;
    if (unrecorded)
        unrecorded(error);
}

std::unique_ptr<RunRecorder::Recording> RunRecorder::begin(RunOutcome &outcome, const QString &file,
                                                           const QString &sha256,
                                                           const QList<ImageHeader> &images)
{
    HistoryEntry entry;
    entry.started = QDateTime::currentDateTimeUtc();
    const struct passwd *account = ::getpwuid(::geteuid());
    entry.user = account ? QString::fromLocal8Bit(account->pw_name) : QString::number(::geteuid());
    entry.pid = ::getpid();
    entry.program = program;
    entry.file = QFileInfo(file).absoluteFilePath();
    entry.sha256 = sha256;
    entry.signer = currentSigner;
    entry.overrides = currentOverrides;
    for (const ImageHeader &image : images) {
        entry.images.append({imagetext::name(image), image.version, image.address, image.size});
    }
    QString error;
    if (!history.begin(entry, &error)) {
        notRecorded(outcome, error);
        return nullptr;
    }
    return std::unique_ptr<Recording>(new Recording(*this, entry, outcome));
}

RunRecorder::Recording::Recording(RunRecorder &recorder, HistoryEntry entry, RunOutcome &outcome)
    : recorder(recorder), entry(std::move(entry)), outcome(outcome),
      startedMs(QDateTime::currentMSecsSinceEpoch())
{
}

RunRecorder::Recording::~Recording()
{
    entry.durationMs = QDateTime::currentMSecsSinceEpoch() - startedMs;
    entry.pagesSkipped = outcome.pagesSkipped;
    entry.pagesWritten = outcome.pagesWritten;
    entry.pagesProgrammed = outcome.pagesProgrammed;
    entry.result = outcome.succeeded() ? QStringLiteral("succeeded") : QStringLiteral("failed");
    entry.outcome = QLatin1String(RunOutcome::kindName(outcome.kind));
    entry.flashTouched = outcome.flashTouched;
    entry.cause = outcome.cause;
    entry.lastLine = outcome.lastLine;
    QString error;
    if (!recorder.history.finish(entry, &error))
        recorder.notRecorded(outcome, error);
}
