#include "cliout.h"
#include "commands.h"
#include "digest.h"
#include "exitcodes.h"
#include "flashlock.h"
#include "recoverycopy.h"
#include "runhistory.h"
#include "updatesnapshot.h"

#include <QDir>
#include <QFile>

namespace commands {

namespace {

QString when(const HistoryEntry &entry)
{
    return entry.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// A run still under way holds its entry at "started" and the flash's lock for
// its whole length: the lock tells, not the process number, which another
// process may have taken since the one that started it died.
bool underWay(const HistoryEntry &entry)
{
    return entry.result == QLatin1String("started") && flashlock::probe().state == flashlock::Attempt::Busy;
}

// A kept copy, read once and checked against the history; exitcode::success
// with the snapshot and its images, or the refusal, said.
int readCopy(const QString &folder, const HistoryEntry::Copy &copy, bool preImage,
             std::shared_ptr<const UpdateSnapshot> *snapshot, QList<ImageHeader> *images, CliOutput &out)
{
    const QString path = QDir(folder).filePath(copy.file);
    *snapshot = UpdateSnapshot::capture(path);
    if (!(*snapshot)->holdsBytes()) {
        out.error(QStringLiteral("The recovery copy ") + path + QStringLiteral(" cannot be read"));
        return exitcode::refusedFile;
    }
    if (QString::fromLatin1(provenance::sha256(**snapshot)) != copy.sha256) {
        out.error(QStringLiteral("The recovery copy ") + path +
                  QStringLiteral(" has changed since it was kept: its SHA-256 is not the history's"));
        return exitcode::refusedSignature;
    }
    QFile file;
    QString why;
    const QString damage = preImage
                               ? ((*snapshot)->open(file) && recoverycopy::readPreImage(file, images, &why)
                                      ? QString()
                                      : QStringLiteral("Error in ") + path + QStringLiteral(": ") + why)
                               : (*snapshot)->refusal(images, file);
    if (!damage.isEmpty()) {
        out.error(damage);
        return exitcode::refusedFile;
    }
    return exitcode::success;
}

// The newest entry of the history, or the status of its absence, said.
int newestEntry(HistoryEntry *newest, const char *what, CliOutput &out)
{
    const QList<HistoryEntry> entries = RunHistory().entries();
    if (entries.isEmpty()) {
        out.line(QStringLiteral("There is no update to ") + QLatin1String(what) +
                 QStringLiteral(": the history holds none."));
        return -1;
    }
    *newest = entries.last();
    if (underWay(*newest)) {
        out.error(QStringLiteral("The update started %1 by %2 is still under way (process %3).")
                      .arg(when(*newest), newest->user, QString::number(newest->pid)));
        return exitcode::busy;
    }
    return exitcode::success;
}

} // namespace

int resume(const UpdateRequest &request, CliOutput &out)
{
    HistoryEntry newest;
    if (const int status = newestEntry(&newest, "finish", out))
        return status < 0 ? exitcode::success : status;
    if (newest.result == QLatin1String("succeeded")) {
        out.line(QStringLiteral("Nothing to finish: the newest update, started %1 from %2, ended verified.")
                     .arg(when(newest), newest.file));
        return exitcode::success;
    }
    if (!newest.target.kept()) {
        out.error(
            QStringLiteral("The update started %1 from %2 cannot be finished: the journal kept no copy of it")
                .arg(when(newest), newest.file));
        return exitcode::refusedFile;
    }
    const QString folder = RunHistory().directory();
    std::shared_ptr<const UpdateSnapshot> snapshot;
    QList<ImageHeader> images;
    if (const int status = readCopy(folder, newest.target, newest.targetIsPreImage, &snapshot, &images, out))
        return status;
    out.line(QStringLiteral("Finishing the update started %1 by %2 from %3.")
                 .arg(when(newest), newest.user, newest.file));
    QStringList overrides;
    UpdateRequest asked = request;
    asked.onlyChanged = !newest.targetIsPreImage;
    if (const std::optional<preflight::Concern> power = preflight::powerConcern())
        if (const int status = passConcerns(newest.file, {*power}, asked, &overrides, out))
            return status;
    const QString path = QDir(folder).filePath(newest.target.file);
    if (request.dryRun && !newest.targetIsPreImage) {
        CheckedFile checked;
        checked.snapshot = snapshot;
        checked.images = images;
        if (!snapshot->open(*checked.file))
            return exitcode::refusedFile;
        return dryRun(path, checked, true, out);
    }
    if (request.dryRun) {
        out.line(QStringLiteral(
                     "Finishing it would erase and write %1 pages back as they were; nothing was changed.")
                     .arg(images.size()));
        return exitcode::success;
    }
    if (!confirmed(asked, QStringLiteral("Finish this update of the ZARN flash?"), out))
        return exitcode::notConfirmed;
    RunJournal journal;
    journal.signer = newest.signer;
    journal.record.kind = QStringLiteral("resume");
    journal.record.target = newest.target;
    journal.record.targetIsPreImage = newest.targetIsPreImage;
    journal.record.before = newest.before;
    journal.record.follows = newest.id;
    journal.record.file = newest.file;
    journal.keptSha256 = newest.target.sha256;
    journal.restoring = newest.targetIsPreImage;
    return runAndTell(path, snapshot, images, journal, asked, overrides, out);
}

int restore(const QString &id, const UpdateRequest &request, CliOutput &out)
{
    HistoryEntry newest;
    if (const int status = newestEntry(&newest, "undo", out))
        return status < 0 ? exitcode::refusedFile : status;
    // An older entry's pre-image would undo the updates made after it without knowing them.
    if (!id.isEmpty() && id != newest.id) {
        out.error(QStringLiteral("Only the newest update can be undone: %1 was followed by %2, started %3")
                      .arg(id, newest.id, when(newest)));
        return exitcode::refusedFile;
    }
    if (!newest.before.kept()) {
        out.error(
            QStringLiteral("The update started %1 from %2 cannot be undone: the journal kept no copy of what "
                           "the flash held before it")
                .arg(when(newest), newest.file));
        return exitcode::refusedFile;
    }
    const QString folder = RunHistory().directory();
    std::shared_ptr<const UpdateSnapshot> snapshot;
    QList<ImageHeader> images;
    if (const int status = readCopy(folder, newest.before, true, &snapshot, &images, out))
        return status;
    out.line(
        QStringLiteral("Restoring what the flash held before the update started %1 by %2 from %3: %4 pages.")
            .arg(when(newest), newest.user, newest.file, QString::number(images.size())));
    QStringList overrides;
    UpdateRequest asked = request;
    asked.onlyChanged = false;
    if (const std::optional<preflight::Concern> power = preflight::powerConcern())
        if (const int status = passConcerns(newest.file, {*power}, asked, &overrides, out))
            return status;
    if (!confirmed(asked, QStringLiteral("Restore the previous contents of the ZARN flash?"), out))
        return exitcode::notConfirmed;
    RunJournal journal;
    journal.record.kind = QStringLiteral("restore");
    journal.record.target = newest.before;
    journal.record.targetIsPreImage = true;
    journal.record.before = newest.before;
    journal.record.follows = newest.id;
    journal.record.file = newest.file;
    journal.keptSha256 = newest.before.sha256;
    journal.restoring = true;
    return runAndTell(QDir(folder).filePath(newest.before.file), snapshot, images, journal, asked, overrides,
                      out);
}

} // namespace commands
