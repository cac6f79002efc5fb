#pragma once

#include <functional>

class Tedlf;

// The program after its application object exists: takes the single-instance lock, opens the
// capture window (which opens the settings file while it loads), offers the rows of a capture
// journal left by a run that did not end cleanly, makes the MIDI device window hidden and joins
// the two, and runs the event loop. Returns the exit status.
//
// started, when given, runs once the windows exist and before the event loop starts (a test
// entry drives the capture window through it).
int runCorvane(const std::function<void(Tedlf &)> &started = {});
