#pragma once

#include "runhistory.h"
#include "runoutcome.h"

#include <functional>
#include <memory>
#include <QList>
#include <QString>
#include <QStringList>

struct ImageHeader;

// Writes the history of the runs of the program that sets it on its workers:
// the entry when the run is about to touch the flash, completed when the run
// ends, however it ends. A history that cannot be written never stops an
// update: the outcome says why it is missing, and the program is told at once.
class RunRecorder
{
public:
    RunRecorder(RunHistory history, QString program);

    // Set before the run starts: who signed the confirmed file, if anyone.
    void setSigner(const QString &signer) { currentSigner = signer; }
    void setOverrides(const QStringList &overrides) { currentOverrides = overrides; }
    // A check passed over once more, as a run is about to start: recorded once.
    void passOver(const QString &check)
    {
        if (!currentOverrides.contains(check))
            currentOverrides << check;
    }
    // What the run is to the journal: an update that keeps recovery copies
    // before it unlocks the flash (keepCopies), or a resume or restore that
    // writes copies kept already (target), following an earlier entry.
    struct Journal
    {
        QString kind = QStringLiteral("update");
        bool keepCopies = false;
        HistoryEntry::Copy target;
        bool targetIsPreImage = false;
        HistoryEntry::Copy before;
        QString follows;
        // The update file the entry names, when the run writes a copy of it.
        QString file;
        // The updates that never ended before this run, which it settles if it
        // succeeds; listed by the program before the run, not on the run's thread.
        QStringList settles;
        // The newest updates whose copies are kept; older ones' go, but
        // those of an update that never ended, or that failed, and not yet settled.
        int keep = 2;
    };
    void setJournal(const Journal &journal) { currentJournal = journal; }
    const Journal &journal() const { return currentJournal; }
    // The folder the copies go in: the history's own.
    QString folder() const { return history.directory(); }
    bool makeFolder(QString *error) const { return history.makeFolder(error); }
    // Once the copies are written: they and the plan go into the entry.
    void keptCopies(const HistoryEntry::Copy &target, const HistoryEntry::Copy &before,
                    const QList<HistoryEntry::Page> &erases)
    {
        currentJournal.target = target;
        currentJournal.before = before;
        currentErases = erases;
    }
    // Removes the copies no entry worth keeping names any more; on the
    // program's thread once the run has ended, never on the run's.
    void prune() const;
    // The journal cannot be written at all: the run goes on without copies, said as the history's failure is.
    void journalUnwritable(RunOutcome &outcome, const QString &error) { notRecorded(outcome, error); }

    // Set before the run starts: called on the run's thread, with the cause,
    // when the run's entry cannot be written.
    void setUnrecordedHandler(std::function<void(const QString &cause)> handler)
    {
        unrecorded = std::move(handler);
    }

    // An entry under way; completing it is its destruction.
    class Recording
    {
    public:
        ~Recording();
        Recording(const Recording &) = delete;
        Recording &operator=(const Recording &) = delete;

    private:
        friend class RunRecorder;
        Recording(RunRecorder &recorder, HistoryEntry entry, RunOutcome &outcome);

        RunRecorder &recorder;
        HistoryEntry entry;
        RunOutcome &outcome;
        qint64 startedMs;
    };

    // On the worker's thread, once the run has its images and holds the flash.
    // The entry is completed from outcome, the run's own, when the recording
    // ends; outcome learns of an entry that could not be written.
    std::unique_ptr<Recording> begin(RunOutcome &outcome, const QString &file, const QString &sha256,
                                     const QList<ImageHeader> &images);

private:
    void notRecorded(RunOutcome &outcome, const QString &error) const;

    RunHistory history;
    QString program;
    QString currentSigner;
    QStringList currentOverrides;
    std::function<void(const QString &cause)> unrecorded;
    Journal currentJournal;
    QList<HistoryEntry::Page> currentErases;
};
