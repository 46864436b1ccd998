// /update's reads of the chip before anything is erased: the pass that
// compares the chip with the image sector by sector over the covered range
// (gathering the backup's bytes and those past the image's end on the way),
// and the backup's second read.
#pragma once

#include <stdint.h>

#include "Applications/Main/UpdateOptions.h"
#include "Applications/Main/UpdatePlan.h"

namespace zar {

// What the read pass works on and fills in.
struct UpdateScan {
    const UpdateOptions* Options;
    SectorPlan* Sectors;  // Blocks × SECTORS_IN_BLOCK: Found, Kept, Pieces and ChipSum filled in
    int32_t Blocks;
    PlanRange Range;      // the image's end, and the end of the erase unit it ends in
    uint8_t* Backup;      // Range.CoverEnd bytes of the chip with "/backup", else nullptr
    uint8_t* Tail;        // the chip's bytes from Range.ImageEnd to Range.CoverEnd (room for a block)
};

enum class PassResult { Done, NoAnswer };

// Every block of the image, taken from memory, and, with the chip's bytes
// past the image's end after it, compared with the chip. ChipSum holds the
// chip's sum of a sector's image bytes only.
PassResult ReadPass(const UpdateScan& scan);

// The last block's bytes past the image's end, as the read pass found them,
// put after the image's in RunState.Block: the write pass writes them back.
void PutTailBack(const UpdateScan& scan, int32_t block);

// The backup's second read, compared with the first. Returns how many bytes
// differ, the first at *first, or -1 when the channel died.
int32_t ReadBackupAgain(const UpdateScan& scan, uint32_t* first);

}  // namespace zar
