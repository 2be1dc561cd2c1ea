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
};
