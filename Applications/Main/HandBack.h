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
    Writes,  // the classic run and /update, refusals included (args: the words from the image or verb on)
    Looks,   // a verb that writes nothing (args: its words)
};

// The closing rule. The EC is sent a closing command only when the chip is
// known to hold a whole image: this run showed it holds the image (read back
// after writing, or compared equal) and nothing that writes has gone out on
// the bus since; or nothing that writes went out in this run at all and the
// EC had answered as only an EC running its firmware does (the module
// check; for a verb that writes nothing, its acknowledged entry). The roads
// note what they showed; HandBackAndEnd asks.
void NoteImageWhole();
void NoteEcRanItsFirmware();
[[nodiscard]] bool ChipKnownWhole();

// Ends the run with status and returns the status it ends with.
//
// Whatever the road and status, closing is sent only by the closing rule.
// A run that writes (Road::Writes) that ends without it (the chip not known
// whole, whether it failed, was refused or was cut short, or the EC stopped
// answering) leaves the EC in follow mode, where another run can still
// rewrite it: nothing is sent, the user is told the command that can finish
// (RunState.RerunChange says what it changes), and the record is written
// when main ends.
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
[[nodiscard]] ExitStatus HandBackAndEnd(uint8_t closing, ExitStatus status, const Arguments* args, Road road);

// Says which wait ran out and where; the channel has sent nothing since.
void ReportWaitFault();

// The line a run prints when it ends without a closing command.
void SayEcStaysInFollowMode();

}  // namespace zar
