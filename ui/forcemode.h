#pragma once

// Set once by main, before the window exists, when the first argument asks for
// force mode: the window then stays open even when the ZARN driver cannot be
// reached. The window's constructor is its only reader.
extern bool openWithoutDriver;
