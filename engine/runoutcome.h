#pragma once

#include "flashhandle.h"

#include <mutex>
#include <QString>

// How one update run ended, as the run itself knows it: the window's status
// bar, the desktop's notice, the command line's exit status and JSON result,
// and the history all follow from this value, never from a status line's text.
struct RunOutcome
{
    enum class Kind {
        Succeeded,          // every image written, verified and read back
        RefusedFile,        // the update file cannot be read or is damaged
        RefusedOrigin,      // its signature or checksum does not verify, or is missing
        NoDevice,           // the flash node is missing or cannot be opened
        Busy,               // another process holds the flash
        Failed,             // a device call or the file failed during the update
        VerificationFailed, // the flash does not hold what was written
    };

    // A run that never said otherwise did not succeed.
    Kind kind = Kind::Failed;
    // An erase or a write was sent to the device: the flash may no longer
    // hold what it held before the run.
    bool flashTouched = false;
    // The run's last status line.
    QString lastLine;
    // The system's word for the failing call, where there is one; the status
    // line does not always carry it.
    QString cause;
    // The last line names the cause already, so that nobody says it twice.
    bool lineNamesCause = false;
    // Why the history holds no entry of this run; empty when it does.
    QString historyError;
    // An update of the changed pages only: how its pages went once planned;
    // -1 for a full update.
    int pages = -1;
    int pagesSkipped = -1;
    int pagesWritten = -1;
    int pagesProgrammed = -1;

    bool succeeded() const { return kind == Kind::Succeeded; }
    // The cause to say beside the last line of a failure: empty when there is
    // none or the line says it.
    QString causeAside() const { return succeeded() || lineNamesCause ? QString() : cause; }

    // How a run, or a read of the flash, ends on a failed call of the flash.
    static Kind kindOf(const FlashFailure &failure)
    {
        if (failure.noDevice())
            return Kind::NoDevice;
        return failure.busy() ? Kind::Busy : Kind::Failed;
    }

    // The kind as the JSON result and the history name it.
    static const char *kindName(Kind kind)
    {
        switch (kind) {
        case Kind::Succeeded:
            return "succeeded";
        case Kind::RefusedFile:
            return "refused-file";
        case Kind::RefusedOrigin:
            return "refused-origin";
        case Kind::NoDevice:
            return "no-device";
        case Kind::Busy:
            return "busy";
        case Kind::Failed:
            break;
        case Kind::VerificationFailed:
            return "verification-failed";
        }
        return "failed";
    }
};

// Where a run leaves how it ended for the thread that started it: the run's
// thread publishes it once, before it reports its end, and the other reads it
// after. The lock makes that order plain to every reader of the code and to
// the tools that check it, whatever the toolkit does to deliver the report.
class RunOutcomeSlot
{
public:
    void publish(const RunOutcome &outcome)
    {
        const std::lock_guard<std::mutex> hold(mutex);
        value = outcome;
    }
    RunOutcome read() const
    {
        const std::lock_guard<std::mutex> hold(mutex);
        return value;
    }

private:
    mutable std::mutex mutex;
    RunOutcome value;
};
