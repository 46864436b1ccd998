// What the user types after a run that went wrong. A run cut short in follow
// mode leaves the EC there, and an EC in follow mode can't answer the module
// check: the next run must skip it. The advice is printed as the exact
// command and kept in RunState.Rerun for the simulator.
#pragma once

#include "Applications/Main/Arguments.h"

namespace zar {

// main's whole command line, so that the command to type keeps the words
// before the image ("/log FILE", "/update"); nullptr when main returns.
void RememberCommandLine(const Arguments* line);

// EcEnterFollowMode, going on when it gets no answer: an EC left in follow
// mode by a run that was cut short may take the entry command without
// answering it. What follows (identification) shows whether it relays SPI
// transactions; if it doesn't, its first wait ends the run.
void EnterFollowMode();

// The EC may be left in follow mode: the same command with p as its second
// word (the closing rule reads only whether words 2 and 3 are there, and
// /update's "/j" stays its last word, so the EC is closed as the first
// command would have closed it), changed as RunState.RerunChange says, with
// a line for each change.
void AdviseRerunWithoutModuleCheck(const Arguments& args);

// The words of that command after the program's name, each passed to emit
// in order: line is the whole command line. At most line.Count() + 1 words
// (with RerunChange.AsUpdate, "/update" before the classic image). Without
// withP the second word stays as given: the command as changed, module
// check and all.
void RerunWords(const Arguments& line, void (*emit)(const char* word, void* context), void* context,
                bool withP = true);

// The command with p (after a line of the caller's that says why), or as
// changed with its own second word: each on a line of its own, with a line
// for each change, kept in RunState.Rerun for the simulator.
void AdviseRerunWithP(const Arguments& args);
void AdviseCommandAsChanged(const Arguments& args);

// The module check got no answer: the same command, or with p when an earlier
// run was cut short in follow mode (which only the user knows).
void AdviseRerunAfterModuleCheck(const Arguments& args);

// A verb that writes nothing left the EC in follow mode (its entry was not
// acknowledged, or a wait ran out after it): /update with p hands it back,
// writing only what differs from the image (/verify's, else IMAGE to fill
// in), and keeps the closing command the verb would have sent.
void AdviseHandBackAfterLooking(const Arguments& args);

}  // namespace zar
