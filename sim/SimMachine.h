// One simulated machine: an EC with a flash chip on its SPI bus, the faults
// they carry and the EC's clock. zar-sim, zar-sweep and the tests all build
// theirs here.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "sim/ChipCatalog.h"
#include "sim/SimEc.h"
#include "sim/SpiNorChip.h"

namespace zar::sim {

struct MachineSetup {
    const ChipInfo* Chip = nullptr;  // nullptr: DefaultChip()
    uint32_t ChipSize = 0;           // another size for the part (a power of two); 0: its own
    EcConfig Ec;                     // the EC's timing and faults
    ChipConfig ChipSetup;            // the chip's timing and faults
    bool ChipAbsent = false;         // nothing on the SPI bus
};

class SimMachine {
public:
    // Constant-initialised, like the EC and the chip: a machine can live at
    // namespace scope without a global constructor.
    constexpr SimMachine() = default;

    // The part the machine will carry: the chosen one, resized if asked.
    // Its Part->Size is the size of the contents PowerUp takes.
    const ChipInfo& ChooseChip(const MachineSetup& setup);
    // Powers up a fresh EC and the chosen part holding contents (kept by
    // the caller, ChooseChip(setup).Part->Size bytes) on its bus.
    void PowerUp(const MachineSetup& setup, uint8_t* contents);
    // The EC's module name, as the EC shows it at EC_MODULE_NAME_ADDRESS:
    // count bytes of name, zeros after them.
    void SetModuleName(const uint8_t* name, size_t count);
    // Between two runs: the faults are gone, an absent chip is back, and the
    // EC and the chip carry on as the last run left them.
    void NextRun();

    // What the EC and the chip keep while the host restarts around them
    // (zar-sim --state): taken once time has let the EC settle, and put back
    // into a machine just powered up with the same contents. False when the
    // kept values are none an EC can have.
    struct Kept {
        SimEc::Kept Ec;
        SpiNorChip::Kept Chip;
    };
    Kept Keep();
    [[nodiscard]] bool Resume(const Kept& kept);

    SimEc& Ec() { return ec_; }
    SpiNorChip& Chip() { return chip_; }

private:
    SimEc ec_;
    SpiNorChip chip_;
    FlashPart resizedPart_ = {};
    ChipInfo resizedChip_ = {};
};

// Erased chips hide a missing erase: contents that are neither 0x00 nor 0xFF
// and differ from address to address.
void FillPattern(uint8_t* contents, uint32_t size);

}  // namespace zar::sim
