#pragma once

#include "flashhandle.h"
#include "runoutcome.h"
#include "runphases.h"
#include "statuslines.h"

#include <QString>

// What kind of status line a run sends: one that tells a step of the run, or
// one of those sent for every block or page moved, which a view that shows the
// stage and the bars stands for.
enum class LineKind { Step, Block };

// A failure that ends a run: its kind, its last line and the errno of the
// failing call, if any.
struct RunFailure
{
    RunOutcome::Kind kind = RunOutcome::Kind::Failed;
    QString line;
    int error = 0;
    bool lineNamesCause = false;

    // A failed call of the flash, in its own words.
    static RunFailure of(const FlashFailure &failure)
    {
        return {RunOutcome::kindOf(failure), failure.line(), failure.error, failure.lineNamesCause()};
    }
};

// How the engine's helpers tell how a run goes: the worker implements it for a
// run the window or the command line shows, and a test or a dry run that only
// wants the verdict implements it too.
class RunReporter
{
public:
    virtual void status(const QString &line, LineKind kind = LineKind::Step) = 0;
    // A line of those sent for every block or page moved: text and the
    // address in hexadecimal, built only where something shows it.
    void blockLine(const char *text, quint64 address)
    {
        if (showsBlockLines())
            status(statuslines::hexLine(text, address), LineKind::Block);
    }
    // Both bars, from the fraction done of one of an image's phases.
    virtual void progress(Phase phase, float fraction) = 0;
    // The current bar alone.
    virtual void currentProgress(int percent) = 0;
    virtual void stage(RunStage stage) = 0;
    // Ends the run's work with the failure's line as its last status line.
    virtual void fail(const RunFailure &failure) = 0;

    // Both say the failure and return false, for the helpers' early returns.
    bool failed(const RunFailure &failure)
    {
        fail(failure);
        return false;
    }
    bool failed(const FlashFailure &failure) { return failed(RunFailure::of(failure)); }

protected:
    ~RunReporter() = default;
    // Whether a line sent for every block is looked at by anyone at all.
    virtual bool showsBlockLines() const { return true; }
};
