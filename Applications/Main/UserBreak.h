// The firmware around a run that enters follow mode: the watchdog, and the
// user's Ctrl-C. Under the UEFI Shell a Ctrl-C does not stop a running
// program, but a script ends after the line that ran it: the factory
// script's clean-up after a failed run would never come.
#pragma once

#include "Applications/Main/ExitStatus.h"

namespace zar {

// A run that stops on a Ctrl-C before follow mode ends as a module mismatch
// does (EFI_ABORTED): nothing written, the EC as it was found.
constexpr ExitStatus EXIT_STOPPED = EXIT_MODULE_MISMATCH;

// Every road into follow mode comes here first. A Ctrl-C the user has
// already pressed stops the run: it says so and returns false, and the road
// ends with EXIT_STOPPED before it sends anything more. Otherwise the
// firmware's watchdog goes off for good (a reset halfway through the chip is
// the one fault no rerun repairs; every wait of ours is bounded), and from
// here on a Ctrl-C is taken at safe points and ignored.
[[nodiscard]] bool ReadyForFollowMode();

// A safe point: no transaction open, nothing half done. A Ctrl-C pressed
// since follow mode was entered is taken, and the first one is answered
// with one line on the console. Nothing before ReadyForFollowMode.
void IgnoreBreak();

}  // namespace zar
