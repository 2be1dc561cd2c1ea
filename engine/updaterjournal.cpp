#include "digest.h"
#include "flashhandle.h"
#include "provenance.h"
#include "recoverycopy.h"
#include "runrecorder.h"
#include "updaterthread.h"
#include "updatesnapshot.h"

#include <QDebug>

bool UpdaterThread::readImages(const UpdateSnapshot &snapshot, QList<imgHeader> *images, QFile &file)
{
    if (run.restoring) {
        QString why;
        if (!snapshot.open(file) || !recoverycopy::readPreImage(file, images, &why) || images->isEmpty()) {
            failRun({RunOutcome::Kind::RefusedFile,
                     QStringLiteral("Error in ") + filename + QStringLiteral(": ") +
                         (why.isEmpty() ? QStringLiteral("it holds no page") : why)});
            return false;
        }
    } else {
        const QString refusal = snapshot.refusal(images, file);
        if (!refusal.isEmpty()) {
            if (!file.isOpen())
                qDebug() << "Failed opening file: " << filename;
            failRun({RunOutcome::Kind::RefusedFile, refusal});
            return false;
        }
    }
    if (!run.keptSha256.isEmpty()) {
        // A copy the journal kept vouches for itself only as the bytes it was.
        if (QString::fromLatin1(provenance::sha256(snapshot)) != run.keptSha256) {
            failRun({RunOutcome::Kind::RefusedOrigin,
                     QStringLiteral("The recovery copy ") + filename +
                         QStringLiteral(" has changed since it was kept: its SHA-256 is not the history's")});
            return false;
        }
        return true;
    }
    // Judged again here, not taken from the window: a run started without the
    // window, or a signature changed since the confirmation, must not reach the flash.
    const provenance::Verdict origin = provenance::check(snapshot, run.trustedDirectories);
    if (!origin.accepted()) {
        failRun({RunOutcome::Kind::RefusedOrigin, origin.refusal});
        return false;
    }
    return true;
}

bool UpdaterThread::keepRecoveryCopies(const UpdateSnapshot &snapshot, const FlashHandle &flash,
                                       const QList<imgHeader> &images)
{
    if (!run.recorder || !run.recorder->journal().keepCopies)
        return true;
    const QString folder = run.recorder->folder();
    QString unwritable;
    if (!run.recorder->makeFolder(&unwritable)) {
        // The history says so as it fails too; the update is not refused for a journal that cannot be made.
        run.recorder->journalUnwritable(outcome, unwritable);
        return true;
    }
    const std::vector<recoverycopy::Page> pages = recoverycopy::erasedPages(images);
    const QString noRoom =
        recoverycopy::roomRefusal(folder, recoverycopy::roomNeeded(snapshot.fileSize(), pages));
    if (!noRoom.isEmpty()) {
        failRun({RunOutcome::Kind::Failed, noRoom});
        return false;
    }
    recoverycopy::Kept target;
    recoverycopy::Kept before;
    QString error;
    FlashFailure flashFailure;
    if (!recoverycopy::write(folder, snapshot, flash, pages, &target, &before, &error, &flashFailure)) {
        failRun(flashFailure ? RunFailure::of(flashFailure) : RunFailure{RunOutcome::Kind::Failed, error});
        return false;
    }
    QList<HistoryEntry::Page> erases;
    for (const recoverycopy::Page &page : pages)
        erases.append({page.address, page.length});
    run.recorder->keptCopies({target.file, target.sha256}, {before.file, before.sha256}, erases);
    return true;
}
