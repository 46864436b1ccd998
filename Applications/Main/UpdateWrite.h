// One block of an update, as its plan says: the erases, the pieces to
// program, and the read-back of every sector written.
#pragma once

#include <stdint.h>

#include "Applications/Main/UpdatePlan.h"

namespace zar {

struct UpdateTally;

enum class BlockWork : uint8_t {
    None,      // nothing in the block to write
    Verified,  // written, and every written sector read back equal
    Failed,    // a written sector read back different (its address printed), or the EC stopped answering
};

// With the block's target in RunState.Block (the image's bytes, then the
// chip's own up to range.CoverEnd) and BlockCounter on it. The chip's image
// bytes read back go into Checksum; the image's sectors written are counted
// in tally, and tally->TailAtRisk holds from an erase that takes bytes past
// the image's end until they read back as they were.
BlockWork WriteBlock(int32_t block, const SectorPlan* row, bool eraseWhole, PlanRange range, UpdateTally* tally);

}  // namespace zar
