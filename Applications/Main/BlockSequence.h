#pragma once

#include <stdint.h>

#include "Applications/Main/Arguments.h"
#include "Applications/Main/FlashState.h"

namespace zar {

enum class BlockMode : uint8_t {
    Write,   // every block: unprotect, erase, blank check, program, verify
    Update,  // each block read and compared first; one equal to the image is left alone
};

// With ImageFile open on args.At(ARG_IMAGE): measures it, runs the module
// check (unless "p") and sets the image up for its blocks. EXIT_OK, or the
// run's status once it has said why.
int PrepareImage(const Arguments& args);
// The same after opening the image; "FILE NAME ERROR!!" when it won't open.
int OpenAndPrepareImage(const Arguments& args);

// From the banner to the checksum line: follow mode, identification, every
// block of the image, the closing command. Returns main's status.
int FlashImageBlocks(const Arguments& args, BlockMode mode);

// The command that closes a good run: EC_CMD_FOLLOW_EXIT_ALT for "/j" in the
// fourth place, EC_CMD_FOLLOW_EXIT when "p" or ARG3 is missing, else 0 (none).
uint8_t ClassicClosingCommand(const Arguments& args);

// The run's last line: "Current F/W Checksum" with Checksum.
void PrintChecksum();

// Says which wait ran out and where; the channel has sent nothing since.
void ReportWaitFault();
// What the run does from here on (and at which address, where that
// counts), for ReportWaitFault; kept once a wait has run out.
void EnterStage(RunStage stage, uint32_t address = 0);

}  // namespace zar
