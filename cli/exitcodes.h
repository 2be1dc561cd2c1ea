#pragma once

#include "runoutcome.h"

// The exit statuses of zarn-update, fixed for scripts (see zarn-update(1)).
namespace exitcode {

inline constexpr int success = 0;
inline constexpr int updateFailed = 1;       // a device call or the flash failed, other than below
inline constexpr int usage = 2;              // the command line is wrong
inline constexpr int refusedFile = 3;        // the update file cannot be read or is damaged
inline constexpr int refusedSignature = 4;   // its signature or checksum does not verify, or is missing
inline constexpr int noDevice = 5;           // the ZARN driver's node is missing or not permitted
inline constexpr int busy = 6;               // another update of the flash is under way
inline constexpr int verificationFailed = 7; // the flash does not hold the file's images
// A signal asked the program to stop during the update; it waited for the
// update, which completed: the flash holds the file. An update that failed
// after such a signal ends with its own failure's status.
inline constexpr int interrupted = 8;
inline constexpr int notConfirmed = 9; // the operator did not confirm (or no --yes without a terminal)

// The status of a run, or of a look at the flash, from how it ended.
inline int of(RunOutcome::Kind kind)
{
    switch (kind) {
    case RunOutcome::Kind::Succeeded:
        return success;
    case RunOutcome::Kind::RefusedFile:
        return refusedFile;
    case RunOutcome::Kind::RefusedOrigin:
        return refusedSignature;
    case RunOutcome::Kind::NoDevice:
        return noDevice;
    case RunOutcome::Kind::Busy:
        return busy;
    case RunOutcome::Kind::VerificationFailed:
        return verificationFailed;
    case RunOutcome::Kind::Failed:
        break;
    }
    return updateFailed;
}

// How a command that ends with status ended, in the words of the JSON result.
inline const char *outcomeName(int status)
{
    switch (status) {
    case success:
        return RunOutcome::kindName(RunOutcome::Kind::Succeeded);
    case usage:
        return "usage";
    case refusedFile:
        return RunOutcome::kindName(RunOutcome::Kind::RefusedFile);
    case refusedSignature:
        return RunOutcome::kindName(RunOutcome::Kind::RefusedOrigin);
    case noDevice:
        return RunOutcome::kindName(RunOutcome::Kind::NoDevice);
    case busy:
        return RunOutcome::kindName(RunOutcome::Kind::Busy);
    case verificationFailed:
        return RunOutcome::kindName(RunOutcome::Kind::VerificationFailed);
    case notConfirmed:
        return "not-confirmed";
    default:
        break;
    }
    return RunOutcome::kindName(RunOutcome::Kind::Failed);
}

} // namespace exitcode
