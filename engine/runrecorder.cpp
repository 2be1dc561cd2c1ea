#include "runrecorder.h"

#include "imageheader.h"
#include "imagetext.h"

#include <cerrno>
#include <csignal>
#include <pwd.h>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
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
    entry.process = processidentity::of(entry.pid);
    entry.program = program;
    entry.file = currentJournal.file.isEmpty() ? QFileInfo(file).absoluteFilePath() : currentJournal.file;
    entry.sha256 = sha256;
    entry.signer = currentSigner;
    entry.overrides = currentOverrides;
    for (const ImageHeader &image : images) {
        entry.images.append({imagetext::name(image), image.version, image.address, image.size});
    }
    entry.kind = currentJournal.kind;
    entry.target = currentJournal.target;
    entry.targetIsPreImage = currentJournal.targetIsPreImage;
    entry.before = currentJournal.before;
    entry.erases = currentErases;
    entry.follows = currentJournal.follows;
    // What never ended before this run, this run leaves settled if it succeeds:
    // the flash then holds what it was told to, verified.
    entry.settles = currentJournal.settles;
    if (!currentJournal.follows.isEmpty() && !entry.settles.contains(currentJournal.follows))
        entry.settles << currentJournal.follows;
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

void RunRecorder::prune() const
{
    // An entry that cannot be read may name copies: nothing goes while one is there.
    QStringList unreadable;
    const QList<HistoryEntry> entries = history.entries(&unreadable);
    if (!unreadable.isEmpty())
        return;
    QStringList settled;
    for (const HistoryEntry &entry : entries)
        if (entry.result == QLatin1String("succeeded"))
            settled += entry.settles;
    QSet<QString> kept;
    int updates = 0;
    for (auto entry = entries.crbegin(); entry != entries.crend(); ++entry) {
        if (!entry->target.kept() && !entry->before.kept())
            continue;
        const bool newest = kept.isEmpty();
        const bool unsettled = entry->result != QLatin1String("succeeded") && !settled.contains(entry->id);
        const bool update = entry->kind == QLatin1String("update");
        if (newest || unsettled || (update && updates < currentJournal.keep)) {
            kept << entry->target.file << entry->before.file;
        }
        updates += update ? 1 : 0;
    }
    const QDir folder(history.directory());
    const QStringList copies = folder.entryList({QStringLiteral("*.update"), QStringLiteral("*.before")},
                                                QDir::Files | QDir::Hidden);
    for (const QString &name : copies) {
        // A copy some run was writing when it was cut short lies under a name of its process's.
        if (name.startsWith(QLatin1String(".copy-"))) {
            const qint64 pid = name.section(QLatin1Char('-'), 1).section(QLatin1Char('.'), 0, 0).toLongLong();
            if (pid > 0 && pid != ::getpid() && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
                ::unlink(QFile::encodeName(folder.filePath(name)).constData());
            continue;
        }
        if (!kept.contains(name))
            ::unlink(QFile::encodeName(folder.filePath(name)).constData());
    }
}
