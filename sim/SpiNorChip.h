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
    bool FlipsRead = false;          // one array read of FlipAddress comes back with bit 0 flipped:
    uint32_t FlipAddress = 0;        // a marginal cell or a glitch on the bus, not the stored data
    uint64_t FlipOnRead = 1;         // which read of that address (1: the first)
};

struct ChipConfig {
    ReadDelay Busy = {ReadDelay::Fixed, 2, 1};  // fast timing: status reads with WIP set
    bool RealTiming = false;  // busy for the catalog's typical times on the SimClock instead
    ChipFaults Faults;
};

class SpiNorChip final : public SpiDevice {
public:
    // Constant-initialised, so a chip can live at namespace scope without a
    // global constructor; Init() powers it up.
    constexpr SpiNorChip() = default;

    // contents: info.Part->Size bytes owned by the caller, kept as they are (the
    // chip's stored data). clock may be nullptr under fast timing.
    void Init(const ChipInfo& info, const ChipConfig& config, uint8_t* contents, SimClock* clock);
    // Between two runs of the flasher: the injected faults are gone (a chip
    // stuck busy finishes its operation); contents, status register, AAI mode
    // and an open transaction stay as they are. The counters run on.
    void NextRun();

    // What the chip keeps while the host restarts (SimMachine's Kept): its
    // status register and AAI mode. Its transaction ends and its operation
    // finishes first, as the next run's first chip select would have it.
    struct Kept {
        uint8_t Status;
        bool Aai;
        uint32_t AaiAddress;
    };
    Kept Keep();
    // Into a freshly Init()ed chip.
    void Resume(const Kept& kept);

    void Select() override;
    void Deselect() override;
    void Write(uint8_t value) override;
    uint8_t Read() override;

    const ChipInfo& Info() const { return *info_; }
    uint8_t* Contents() { return contents_; }
    uint32_t Size() const { return info_->Part->Size; }
    uint8_t Status() const;

    struct Counters {
        uint64_t Erases = 0;
        uint64_t BlockErases = 0;     // of them by BLOCK_ERASE (0xD8); the rest by SECTOR_ERASE (0x20)
        uint64_t Programs = 0;        // program commands that took effect
        uint64_t BytesProgrammed = 0; // the data bytes those commands carried
        uint64_t StatusWrites = 0;
        uint64_t Refused = 0;         // commands ignored: no WEL, busy, protected, unsupported
        uint64_t BusyNs = 0;          // virtual time the chip was busy (real timing)
        uint64_t TypicalBusyNs = 0;   // the part's typical times of the operations started, any timing
    };
    const Counters& Stats() const { return stats_; }

private:
    const ChipInfo* info_ = nullptr;
    ChipConfig config_{};
    uint8_t* contents_ = nullptr;
    SimClock* clock_ = nullptr;
    Counters stats_{};
    SimRandom random_{};

    // What the next byte of the open transaction means.
    enum class Phase : uint8_t {
        Opcode,       // chip select just asserted
        Address,      // collecting the 3 address bytes, then `next_`
        Dummy,        // FAST_READ's dummy byte
        ReadData,     // READ / FAST_READ: array bytes from address_ on
        ReadFlipping, // the same, with the read-flip fault watching each byte
        PageData,     // PAGE_PROGRAM data into the page buffer
        ByteData,     // one-byte program: the first data byte counts
        AaiData,      // AAI data bytes
        StatusData,   // WRSR's byte
        StatusRead,   // RDSR: the status register, repeated
        IdRead,       // RDID
        ResRead,      // RES after its 3 dummy bytes
        Done,         // command complete; more bytes void it
        Ignored,      // not accepted: the chip does not listen until deselected
    };

    bool Busy() const;
    void StartOperation(uint32_t typicalUs);
    void Begin(uint8_t opcode);
    bool BeginIdle(uint8_t opcode);
    Phase ArrayRead() const { return config_.Faults.FlipsRead ? Phase::ReadFlipping : Phase::ReadData; }
    void AddressComplete();
    uint8_t ReadSlow();
    void WriteStatus(bool ewsrArmed);
    void Erase(uint32_t unit, uint32_t typicalUs);
    void ProgramPage();
    void ProgramBytes(uint32_t address, const uint8_t* data, uint32_t count);
    void ProgramAai();
    bool MayWrite();
    void Refuse() { ++stats_.Refused; }

    uint32_t mask_ = 0;          // Size - 1: addresses wrap at the array's end
    uint32_t pageMask_ = 0;      // PageSize - 1
    uint8_t status_ = 0;         // WEL and the protect bits; WIP comes from Busy()
    bool selected_ = false;
    bool ewsrArmed_ = false;     // the transaction before was EWSR
    bool aai_ = false;           // in AAI mode
    bool stuckBusy_ = false;
    bool realTiming_ = false;
    Phase phase_ = Phase::Opcode;
    Phase next_ = Phase::Done;   // after the address bytes
    uint8_t opcode_ = 0;
    uint8_t addressLeft_ = 0;
    uint8_t dataCount_ = 0;      // AAI and one-byte program data bytes taken (saturates at 2)
    bool overrun_ = false;       // bytes past the end of a fixed-length command
    uint32_t address_ = 0;
    uint32_t pageOffset_ = 0;
    uint32_t pageSent_ = 0;      // PAGE_PROGRAM data bytes sent (0: nothing to program)
    uint32_t readIndex_ = 0;     // RDID / RES answer position
    uint32_t aaiAddress_ = 0;
    uint32_t busyReads_ = 0;     // fast timing: status reads left with WIP set
    uint64_t busyUntil_ = 0;     // real timing: clock value when WIP clears
    uint64_t operations_ = 0;    // erase, program and status-write operations started
    uint64_t flipReads_ = 0;     // array reads of FlipAddress so far
    uint8_t data_[2] = {};       // AAI / one-byte program data
    uint8_t page_[256] = {};     // page buffer: 0xFF where nothing was sent
};

}  // namespace zar::sim
