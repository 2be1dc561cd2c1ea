#pragma once

// The last status line of a run that programmed and verified every image, and
// of no other run.
inline constexpr char updateDoneText[] = "Done updating. It is now safe to restart the computer.";
