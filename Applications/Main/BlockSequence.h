#pragma once

#include "Applications/Main/Arguments.h"

namespace zar {

// From the banner to the checksum line: follow mode, identification, every
// block of the image, the closing command. Returns main's status.
int FlashImageBlocks(const Arguments& args);

// Says which wait ran out and where; the channel has sent nothing since.
void ReportWaitFault();

}  // namespace zar
