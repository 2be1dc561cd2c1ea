#pragma once

#include "imageheader.h"
#include "provenance.h"
#include "runoutcome.h"

#include <memory>
#include <optional>
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>

class UpdateSnapshot;

// The checks made before an update is confirmed, in one order for the window
// and the command line: nobody else holds the flash, the file is whole, its
// origin is trusted, its images suit this system's hardware, none is older
// than the one last written verified in its place, the power will last. What refuses ends the checks; what
// the operator may pass over is a concern, for the program to ask about and the history to record.
namespace preflight {

struct Concern
{
    enum class Kind {
        OlderHardware,   // an image needs newer hardware than this system's
        UnknownHardware, // the installed hardware value cannot be read
        Downgrade,       // an image is older than the one last written verified in its place, or that
                         // cannot be told
        LowPower,        // on a battery below the site's minimum
        NoRoomForCopies, // the journal has no room for the recovery copies
    };
    Kind kind;
    // What the operator is told, as a clause: "the computer runs on battery at ...".
    QString reason;

    // The check passed over, as the history and the command line's option name it.
    const char *overrideName() const
    {
        switch (kind) {
        case Kind::LowPower:
            return "ignore-power";
        case Kind::NoRoomForCopies:
            return "no-recovery-copy";
        case Kind::Downgrade:
            return "allow-downgrade";
        case Kind::OlderHardware:
        case Kind::UnknownHardware:
            break;
        }
        return "allow-older-hardware";
    }
};

struct Request
{
    // Whether another process holds the flash, asked first.
    bool busy = true;
    // The images' hardware requirements against the installed value.
    bool hardware = true;
    // Each image's version against the one the history last saw verified at
    // its address under its name; not for a deliberate way back.
    bool downgrade = true;
    // The power, for an update about to be confirmed.
    bool power = true;
    // Room in the journal for the recovery copies an update keeps.
    bool recoveryCopies = true;
    // A mailbox node that cannot be opened at all refuses (the driver is not
    // loaded, or the user may not use it), rather than leaving the hardware unknown.
    bool mailboxRequired = false;
};

struct Result
{
    // The bytes as read now, and what was found in them.
    std::shared_ptr<const UpdateSnapshot> snapshot;
    QList<ImageHeader> images;
    // Open on the snapshot's bytes once the file is whole.
    std::unique_ptr<QFile> file = std::make_unique<QFile>();
    provenance::Verdict origin;
    // How the checks refused (RefusedFile, RefusedOrigin, NoDevice, Busy) and the
    // operator's line; empty when nothing refused.
    RunOutcome::Kind refusedAs = RunOutcome::Kind::Succeeded;
    QString refusal;
    QList<Concern> concerns;

    bool refused() const { return !refusal.isEmpty(); }
    // The snapshot could be read and its images listed, whatever its origin.
    bool whole() const { return refused() ? refusedAs == RunOutcome::Kind::RefusedOrigin : true; }
};

Result check(const QString &path, const Request &request);

// The power alone, as the checks judge it; looked at again as a run starts.
std::optional<Concern> powerConcern();

} // namespace preflight
