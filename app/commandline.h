#pragma once

#include "forcemode.h"

// Looks at argv[1] only, before the application object exists, and turns
// force mode on for an exact "-f" or "--force". Returns the resulting mode.
bool applyForceFlag(int argc, char *argv[]);

// "--help" or "--version" as the first argument: the text is written to
// standard output and the program ends with status 0, without a display.
// Returns -1 when the first argument asks for neither.
int answerInformationRequest(int argc, char *argv[]);

// Whether the window has somewhere to go: a display in the environment or a
// platform named for the toolkit. Otherwise one line on standard error says
// so; the program then ends with status 1 instead of the toolkit's abort.
bool haveDisplay(int argc, char *argv[]);

// Turns the toolkit's failure to open its platform (a display named but out of
// reach) into the same line and status 1. Lives across the construction of
// the application object only; the previous message handler comes back after.
class DisplayFailureGuard
{
public:
    DisplayFailureGuard();
    ~DisplayFailureGuard();
    DisplayFailureGuard(const DisplayFailureGuard &) = delete;
    DisplayFailureGuard &operator=(const DisplayFailureGuard &) = delete;
};
