// What the verbs share: the closing rule of the verbs that write nothing,
// the way into follow mode, how a verb refuses its command line, and the way
// out (HandBack.h).
#pragma once

#include <stdint.h>

#include "Applications/Main/Arguments.h"
#include "Applications/Main/ExitStatus.h"
#include "Applications/Main/HandBack.h"
#include "Applications/Main/RunState.h"
#include "platform/Platform.h"

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
// before anything touches the EC. Prints message (and, for a path that
// begins with "/", how to give it) and returns nullptr; the run then ends
// with EXIT_BAD_IMAGE.
[[nodiscard]] const char* FileNameWord(const Arguments& args, int index, const char16_t* message);

// "COMMAND LINE ERROR!!" with the verb's usage; nothing has touched the EC.
// Returns EXIT_BAD_IMAGE.
ExitStatus RefuseCommandLine(const char16_t* usage);

// An EC that answers follow-mode entry with anything but its acknowledgement
// may have been in follow mode already, left there by a run that was cut
// short: closing it would start it from a flash that may be half written. A
// verb that writes nothing then leaves it as it found it: says so and
// returns 0 (no closing command); otherwise returns closing.
uint8_t ClosingAfterEntry(uint8_t ack, uint8_t closing);

// Follow mode, then identification; *closing becomes 0 when the entry was
// not acknowledged (ClosingAfterEntry). False when the EC or the chip stopped
// answering: nothing more can be sent, and the verb ends through
// HandBackAndEnd (Road::Looks), which says which wait ran out.
[[nodiscard]] bool EnterFollowModeAndIdentify(uint8_t* closing);

// One pass over the chip from address 0 on a progress line that starts with
// label (Progress.h), a FAST_READ for each step of at most a percent and
// 64 KiB, a Ctrl-C taken and ignored between them: into `into`, or compared
// with `against`. Returns how many bytes differ (0 for a pass into `into`),
// the first at *firstDifference, or -1 when the channel died (its place then
// says where: pass, and the byte). The line is left open for the caller's
// end of it.
int32_t ReadChipPass(const char16_t* label, RunStage pass, uint8_t* into, const uint8_t* against, uint32_t size,
                     uint32_t* firstDifference);

// Whether a file of that name opens for reading.
bool FileExists(const char* name);

// A file the run must create new (/read's FILE, /update's "/backup FILE"):
// claimed before the EC is touched, so that a name that can't be used costs
// nothing, and deleted again unless it was written whole, so that no partial
// or empty file is taken for a whole one or blocks the next run.
struct NewFile {
    const char* Name;
    PlatformFile* File;  // open from the claim until written
    bool Kept;           // written whole: never deleted
};
// Creates the file only when nothing has that name yet ("xb"). False, once
// it has said why, when something has that name or it can't be created;
// verb names the word that never replaces a file ("/read", "/backup").
[[nodiscard]] bool ClaimNewFile(NewFile* file, const char* name, const char16_t* verb);
// size bytes of data into the claimed file, then closed. False when it could
// not be written whole or closed: the file is then discarded, and *deleted
// says whether that worked.
bool WriteNewFile(NewFile* file, const uint8_t* data, uint32_t size, bool* deleted);
// Closes a claimed file and deletes it unless it was written whole. True
// when it was kept whole or is gone.
bool DiscardNewFile(NewFile* file);

}  // namespace zar
