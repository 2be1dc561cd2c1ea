#pragma once

// Set once by main when the first argument asks for force mode: the window
// then stays open even when the ZARN driver cannot be reached.
extern bool openWithoutDriver;

// Looks at argv[1] only, before the application object exists, and turns
// force mode on for an exact "-f" or "--force". Returns the resulting mode.
bool applyForceFlag(int argc, char *argv[]);
