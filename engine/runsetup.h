#pragma once

#include "provenance.h"
#include "runphases.h"

#include <functional>
#include <memory>
#include <QString>
#include <QStringList>

namespace changedpages {
struct Counts;
}
class ReportPacer;
class RunOutcomeSlot;
class RunRecorder;
class UpdateSnapshot;
struct RunProgress;

// Everything a run needs besides its file name, handed to the worker in one
// value before its thread starts. What is left empty is not done: no pacing,
// no history, no watch.
struct RunSetup
{
    // The bytes the operator confirmed, listed and judged already: the run
    // writes and verifies exactly these. Without them the run takes the file
    // as it is when the run starts.
    std::shared_ptr<const UpdateSnapshot> snapshot;
    // The snapshot is a recovery copy the journal kept: instead of its origin,
    // its SHA-256 is checked against the history's.
    QString keptSha256;
    // The snapshot is a pre-image: its pages are written back as they were.
    bool restoring = false;
    // Where the run looks for the certificates it trusts.
    QStringList trustedDirectories = provenance::defaultTrustedDirectories();
    // The window that shows the reports paces them; without one, reports go
    // out as fast as they come.
    std::shared_ptr<ReportPacer> pacer;
    // The history this run is written to.
    std::shared_ptr<RunRecorder> recorder;
    // Write only the pages that do not hold the update already, counting them
    // here. The window always makes the full update.
    std::shared_ptr<changedpages::Counts> onlyChanged;
    // Where the run leaves how it ended, published before finished() is sent.
    std::shared_ptr<RunOutcomeSlot> outcome;
    // Where the run says which image and stage it is at.
    std::shared_ptr<RunProgress> progress;
    // Each line that tells a step of the run (none of those sent for every
    // block), on the run's thread, as it is sent.
    std::function<void(const QString &line)> stepLine;
    // Each stage as the run enters it, with its image counted from 1, on the
    // run's thread: in order with the reports, where the watch is only the latest.
    std::function<void(int image, RunStage stage)> stageEntered;
};
