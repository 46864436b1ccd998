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

// "COMMAND LINE ERROR!!" with the verb's usage; nothing has touched the EC.
// Returns EXIT_BAD_IMAGE.
int RefuseCommandLine(const char16_t* usage);

// Follow mode, then identification. False, once it has said which wait ran
// out, when the EC or the chip stopped answering: nothing more can be sent.
[[nodiscard]] bool EnterFollowModeAndIdentify();

// Hands the EC back with `closing` and returns status, or EXIT_NO_ANSWER
// when the EC did not take the closing command of a good run.
int HandBackAndEnd(uint8_t closing, int status);

// Whether a file of that name opens for reading.
bool FileExists(const char* name);

}  // namespace zar
