// The run's record for "/log FILE": one record per run appended to FILE,
// written and closed before the EC gets its closing command, so that it
// survives the EC's restart.
#pragma once

#include <stdint.h>

#include "Applications/Main/Arguments.h"
#include "Applications/Main/ExitStatus.h"

namespace zar {

// Opens (or creates) the log before anything touches the EC and keeps the
// whole command line for the record. False, after saying why, when the log
// can't be opened or written: the run must then end with EXIT_BAD_IMAGE.
[[nodiscard]] bool RunRecordBegin(const char* path, const Arguments& fullCommandLine);

// The EC is about to be handed back with command (0: none): writes and
// closes the record (when "/log" asked for one) before the command goes out.
// status is the run's status as it stands then. HandBackAndEnd calls it.
void RunRecordHandBack(uint8_t command, ExitStatus status);

// At the very end of main: writes the record of a run that sent no closing
// command, and closes the log. After a hand-back whose status changed since
// (the closing command was not taken), appends the status the run ends
// with. Does nothing without "/log".
void RunRecordEnd(ExitStatus status);

}  // namespace zar
