#pragma once

#include <stdint.h>

#include "Applications/Main/Arguments.h"
#include "Applications/Main/ExitStatus.h"

namespace zar {

// With ImageFile open on args.At(ARG_IMAGE): measures it, reads it whole
// into memory (closing the file), runs the module check (unless "p") and
// sets the blocks up. EXIT_OK, or the run's status once it has said why.
ExitStatus PrepareImage(const Arguments& args);
// The same after opening the image; "FILE NAME ERROR!!" when it won't open.
ExitStatus OpenAndPrepareImage(const Arguments& args);

// From the banner to the checksum line: follow mode, identification, every
// block of the image, the closing command. Returns main's status.
ExitStatus FlashImageBlocks(const Arguments& args);

// The command that closes a good run: EC_CMD_FOLLOW_EXIT_ALT for "/j" in the
// fourth place, EC_CMD_FOLLOW_EXIT when "p" or ARG3 is missing, else 0 (none).
uint8_t ClassicClosingCommand(const Arguments& args);

// The run's last line: "Current F/W Checksum" with Checksum.
void PrintChecksum();

}  // namespace zar
