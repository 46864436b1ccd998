// What the hosted build stands in for the firmware around a run, for the
// tests: a Ctrl-C to press, the watchdog's switch, and a count of the
// services called where nothing may be (platform/Uninterrupted.h).
#pragma once

#include <stdint.h>

namespace zar::hosted {

// The next TakeBreakRequest sees a break.
void PressCtrlC();
// Whether a break is still waiting to be taken.
bool CtrlCPending();

// How many times DisableWatchdog was called.
uint32_t WatchdogDisables();

// Console, file, clock and heap calls made inside an Uninterrupted scope.
// The simulator's own trace and SPI log count too: the tests that look run
// without them.
uint32_t ServiceCallsWhileUninterrupted();

// Every count to zero, no break waiting.
void ResetFirmware();

// Each hosted console, file, clock and heap service calls this first.
void NoteServiceCall();

}  // namespace zar::hosted
