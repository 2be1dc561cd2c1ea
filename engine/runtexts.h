#pragma once

#include "runoutcome.h"

#include <QString>

// The last status line of a run that programmed and verified every image, and
// of no other run.
inline constexpr char updateDoneText[] = "Done updating. It is now safe to restart the computer.";

// How a run ended, in the words of the window's status bar; the desktop's
// notice at the end of a run says the same.
inline constexpr char runSucceededText[] =
    "The update is complete: the flash memory holds the update file, read back and verified.";
inline constexpr char runFailedText[] =
    "The update failed: the ZARN system may not start. Run the update again before restarting the computer.";
inline constexpr char runNotStartedText[] =
    "The update did not take place: the flash memory was not changed.";

// The words for how outcome ended: only a run that changed the flash may have
// left the system unable to start. The cause of a failure goes beside them
// where the run's last line does not already name it, and a history that
// could not be written is said.
inline QString runEndText(const RunOutcome &outcome)
{
    QString text = QString::fromUtf8(outcome.succeeded()    ? runSucceededText
                                     : outcome.flashTouched ? runFailedText
                                                            : runNotStartedText);
    if (!outcome.causeAside().isEmpty())
        text += QStringLiteral(" Cause: ") + outcome.causeAside() + QLatin1Char('.');
    if (!outcome.historyError.isEmpty())
        text += QStringLiteral(" The update is not recorded in the history: ") + outcome.historyError +
                QLatin1Char('.');
    return text;
}
