// What the verbs share: the closing rule of the verbs that write nothing,
// the way into follow mode, and how a verb refuses its command line.
#pragma once

#include <stdint.h>

#include "Applications/Main/Arguments.h"

namespace zar {

// Whether the verb's last word is "/j" (never the verb itself).
bool EndsWithAltExit(const Arguments& args);
// The words of a verb's line without a trailing "/j", the verb included.
int WordsBeforeAltExit(const Arguments& args);

// A verb that writes nothing leaves the EC as it found it: EC_CMD_FOLLOW_EXIT,
// or EC_CMD_FOLLOW_EXIT_ALT when its last word is "/j".
uint8_t ReadOnlyClosingCommand(const Arguments& args);

// A word that must name a file ("/log FILE", "/read FILE"): when it is
// missing or begins with "/" (a switch or a verb, never a file) it is refused
// before anything touches the EC. Prints message and returns nullptr; the run
// then ends with EXIT_BAD_IMAGE.
[[nodiscard]] const char* FileNameWord(const Arguments& args, int index, const char16_t* message);

// "COMMAND LINE ERROR!!" with the verb's usage; nothing has touched the EC.
// Returns EXIT_BAD_IMAGE.
int RefuseCommandLine(const char16_t* usage);

// An EC that answers follow-mode entry with anything but its acknowledgement
// may have been in follow mode already, left there by a run that was cut
// short: closing it would start it from a flash that may be half written. A
// verb that writes nothing then leaves it as it found it: says so and
// returns 0 (no closing command); otherwise returns closing.
uint8_t ClosingAfterEntry(uint8_t ack, uint8_t closing);

// Follow mode, then identification; *closing becomes 0 when the entry was
// not acknowledged (ClosingAfterEntry). False when the EC or the chip stopped
// answering: nothing more can be sent, the run ends with EndInFollowMode.
[[nodiscard]] bool EnterFollowModeAndIdentify(uint8_t* closing);

// A verb that writes nothing stopped after follow-mode entry went out: says
// which wait ran out and the command that hands the EC back. Returns
// EXIT_NO_ANSWER.
int EndInFollowMode(const Arguments& args);

// After a hand-back with `closing` (0: none, the EC stays in follow mode,
// and the verb says what to type). Returns status.
int AfterHandBack(const Arguments& args, uint8_t closing, int status);

// Hands the EC back with `closing` and returns status, or EXIT_NO_ANSWER
// when the EC did not take the closing command of a good run. Without a
// closing command it says the EC stays in follow mode. Either way an EC left
// in follow mode gets the command to type.
int HandBackAndEnd(const Arguments& args, uint8_t closing, int status);

// Whether a file of that name opens for reading.
bool FileExists(const char* name);

}  // namespace zar
