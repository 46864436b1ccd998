// The run's record for "/log FILE": one record per run appended to FILE,
// written and closed before the EC gets its closing command, so that it
// survives the EC's restart.
#pragma once

#include <stdint.h>

#include "Applications/Main/Arguments.h"

namespace zar {

// Opens (or creates) the log before anything touches the EC and keeps the
// whole command line for the record. False, after saying why, when the log
// can't be opened or written: the run must then end with EXIT_BAD_IMAGE.
[[nodiscard]] bool RunRecordBegin(const char* path, const Arguments& fullCommandLine);

// Hands the EC back: writes and closes the record (when "/log" asked for
// one), then sends command, unless it is 0. status is the run's status as it
// stands before the command goes out. Every road that closes follow mode
// goes through here.
void HandBackEc(uint8_t command, int status);

// At the very end of main: writes the record of a run that sent no closing
// command, and closes the log. After a hand-back whose status changed since
// (the closing command was not taken), appends the status the run ends
// with. Does nothing without "/log".
void RunRecordEnd(int status);

}  // namespace zar
