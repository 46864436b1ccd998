// The one way out of a run that holds the EC in follow mode: the record, the
// closing rule, the advice for a rerun and the status, for the classic run,
// the chip guards and every verb.
#pragma once

#include <stdint.h>

#include "Applications/Main/Arguments.h"
#include "Applications/Main/ExitStatus.h"

namespace zar {

// Ends the run with status and returns the status it ends with.
//
// A run that writes blocks passes its command line as rerun. When it went
// wrong there (status not EXIT_OK, or the EC stopped answering), the EC stays
// in follow mode, where another run can still rewrite it: nothing is sent,
// the user is told the command to run again, and the record is written when
// main ends.
//
// Otherwise the record is written and closed, then closing is sent (0: none;
// a run without rerun then says the EC stays in follow mode). A good run
// whose closing command was not taken ends with EXIT_NO_ANSWER, after saying
// which wait ran out (and, for a run that writes, what to run again).
[[nodiscard]] ExitStatus HandBackAndEnd(uint8_t closing, ExitStatus status, const Arguments* rerun = nullptr);

// Says which wait ran out and where; the channel has sent nothing since.
void ReportWaitFault();

// The line a run prints when it ends without a closing command.
void SayEcStaysInFollowMode();

}  // namespace zar
