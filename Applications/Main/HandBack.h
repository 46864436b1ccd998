// The one way out of a run that holds the EC in follow mode: the record, the
// closing rule, the advice for a rerun and the status, for the classic run,
// the chip guards and every verb.
#pragma once

#include <stdint.h>

#include "Applications/Main/Arguments.h"
#include "Applications/Main/ExitStatus.h"

namespace zar {

// Who leaves, for what the user is told when the EC stays in follow mode.
enum class Road : uint8_t {
    Classic,  // the classic run's closing rules, and a run the chip guards end on a writing road
    Writes,   // a run that writes blocks (args: its command line)
    Looks,    // a verb that writes nothing (args: its words)
};

// Ends the run with status and returns the status it ends with.
//
// A run that writes blocks (Road::Writes): when it went wrong there (status
// not EXIT_OK, or the EC stopped answering), the EC stays in follow mode,
// where another run can still rewrite it: nothing is sent, the user is told
// the command to run again, and the record is written when main ends.
//
// A verb that writes nothing (Road::Looks) and stopped because the EC no
// longer answers sends nothing either: it says which wait ran out and the
// command that hands the EC back, and ends with EXIT_NO_ANSWER.
//
// Otherwise the record is written and closed, then closing is sent (0: none;
// a run that does not write then says the EC stays in follow mode, and a
// verb that writes nothing gives the command that hands it back). A good run
// whose closing command was not taken ends with EXIT_NO_ANSWER, after saying
// which wait ran out (and, for a run that writes or a verb that looks, what
// to run next).
[[nodiscard]] ExitStatus HandBackAndEnd(uint8_t closing, ExitStatus status, const Arguments* args = nullptr,
                                        Road road = Road::Classic);

// Says which wait ran out and where; the channel has sent nothing since.
void ReportWaitFault();

// The line a run prints when it ends without a closing command.
void SayEcStaysInFollowMode();

}  // namespace zar
