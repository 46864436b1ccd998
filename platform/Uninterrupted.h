// A span of port traffic nothing else may break into: one SPI transaction
// from its chip select to its end (with the transactions chained to it), or
// one EC command with its data. A firmware driver's timer callback that
// polls the EC's ports in the middle of one would put its bytes inside the
// transaction, or take the answer the flasher waits for.
//
// Hold an Uninterrupted for the span. Scopes nest; the outermost holds the
// firmware's events off (HoldFirmwareEvents: TPL_NOTIFY under UEFI) and
// gives them back on every way out of the scope. Inside, port accesses only:
// nothing prints (the Shell's console may wait for a key there, Ctrl-S),
// touches a file (FAT takes its lock at TPL_CALLBACK), reads the clock or
// allocates; the hosted build counts such calls (platform/hosted/HostFirmware.h).
// Keep each span short: one 64 KiB block's transfer at most.
#pragma once

#include <stdint.h>

#include "platform/Platform.h"

namespace zar {

// Scopes open now, and how many times the outermost has opened: constant-
// initialised, read by the hosted services and the tests.
inline uint32_t gUninterruptedDepth = 0;
inline uint32_t gUninterruptedHolds = 0;

class [[nodiscard]] Uninterrupted {
public:
    Uninterrupted()
    {
        if (gUninterruptedDepth++ == 0) {
            ++gUninterruptedHolds;
            HoldFirmwareEvents();
        }
    }
    ~Uninterrupted()
    {
        if (--gUninterruptedDepth == 0)
            ReleaseFirmwareEvents();
    }
    Uninterrupted(const Uninterrupted&) = delete;
    Uninterrupted& operator=(const Uninterrupted&) = delete;
};

}  // namespace zar
