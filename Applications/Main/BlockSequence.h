#pragma once

#include <stdint.h>

#include "Applications/Main/Arguments.h"

namespace zar {

// From the banner to the checksum line: follow mode, identification, every
// block of the image, the closing command. Returns main's status.
int FlashImageBlocks(const Arguments& args);

// The command that closes a good run: EC_CMD_FOLLOW_EXIT_ALT for "/j" in the
// fourth place, EC_CMD_FOLLOW_EXIT when "p" or ARG3 is missing, else 0 (none).
uint8_t ClassicClosingCommand(const Arguments& args);

// Says which wait ran out and where; the channel has sent nothing since.
void ReportWaitFault();

}  // namespace zar
