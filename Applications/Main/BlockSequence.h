#pragma once

#include <stdint.h>

#include "Applications/Main/Arguments.h"

namespace zar {

// With ImageFile open on args.At(ARG_IMAGE): measures it, runs the module
// check (unless "p") and sets the image up for its blocks. EXIT_OK, or the
// run's status once it has said why.
int PrepareImage(const Arguments& args);
// The same after opening the image; "FILE NAME ERROR!!" when it won't open.
int OpenAndPrepareImage(const Arguments& args);

// From the banner to the checksum line: follow mode, identification, every
// block of the image, the closing command. Returns main's status.
int FlashImageBlocks(const Arguments& args);

// The end of a run that may have written: the closing command after a fully
// good run (allVerified, the channel alive), otherwise the advice for a
// rerun; then the buffers released and the checksum line. Returns main's
// status.
int EndWritingRun(const Arguments& args, bool allVerified);

// The command that closes a good run: EC_CMD_FOLLOW_EXIT_ALT for "/j" in the
// fourth place, EC_CMD_FOLLOW_EXIT when "p" or ARG3 is missing, else 0 (none).
uint8_t ClassicClosingCommand(const Arguments& args);

// The run's last line: "Current F/W Checksum" with Checksum.
void PrintChecksum();

// Says which wait ran out and where; the channel has sent nothing since.
void ReportWaitFault();

}  // namespace zar
