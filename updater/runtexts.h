#pragma once

// The last status line of a run that programmed and verified every image, and
// of no other run.
inline constexpr char updateDoneText[] = "Done updating. It is now safe to restart the computer.";

// How a run ended, in the words of the window's status bar; the desktop's
// notice at the end of a run says the same.
inline constexpr char runSucceededText[] =
    "The update is complete: the flash memory holds the update file, read back and verified.";
inline constexpr char runFailedText[] =
    "The update failed: the ZARN system may not start. Run the update again before restarting the computer.";
