// A simulated SPI NOR flash chip: a command takes effect when chip select
// ends, erase sets 0xFF over the part's erase unit, programming only clears
// bits, the status register has WIP, WEL and block-protect bits, and busy
// lasts a while after every erase, program and status write.
#pragma once

#include <stdint.h>

#include "sim/ChipCatalog.h"
#include "sim/SpiDevice.h"

namespace zar::sim {

struct ChipFaults {
    // WIP never clears again once this many erase, program and status-write
    // operations have started (0: from the first one; ~0: never).
    uint64_t BusyForeverAfterOps = ~0ull;
    bool ProtectionLocked = false;   // powers up protected and status writes are ignored
    bool HasStuckBits = false;       // bits at StuckAddress that programming can't clear
    uint32_t StuckAddress = 0;
    uint8_t StuckMask = 0xFF;        // the bits that stay 1
};

struct ChipConfig {
    ReadDelay Busy = {ReadDelay::Fixed, 2, 1};  // fast timing: status reads with WIP set
    bool RealTiming = false;  // busy for the catalog's typical times on the SimClock instead
    ChipFaults Faults;
};

class SpiNorChip : public SpiDevice {
public:
    // Constant-initialised, so a chip can live at namespace scope without a
    // global constructor; Init() powers it up.
    constexpr SpiNorChip() = default;

    // contents: info.Size bytes owned by the caller, kept as they are (the
    // chip's stored data). clock may be nullptr under fast timing.
    void Init(const ChipInfo& info, const ChipConfig& config, uint8_t* contents, SimClock* clock);

    void Select() override;
    void Deselect() override;
    void Write(uint8_t value) override;
    uint8_t Read() override;

    const ChipInfo& Info() const { return *info_; }
    uint8_t* Contents() { return contents_; }
    uint32_t Size() const { return info_->Size; }
    uint8_t Status() const;

    struct Counters {
        uint64_t Erases = 0;
        uint64_t Programs = 0;        // program commands that took effect
        uint64_t StatusWrites = 0;
        uint64_t Refused = 0;         // commands ignored: no WEL, busy, protected, unsupported
        uint64_t BusyNs = 0;          // virtual time the chip was busy (real timing)
    };
    const Counters& Stats() const { return stats_; }

private:
    const ChipInfo* info_ = nullptr;
    ChipConfig config_{};
    uint8_t* contents_ = nullptr;
    SimClock* clock_ = nullptr;
    Counters stats_{};
    SimRandom random_{};
    // (the chip's state machine goes here)
};

}  // namespace zar::sim
