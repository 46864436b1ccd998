// What zar-sim tells an engineer after a run: the time the run would take on
// the hardware (real timing) and the run report (--report).
#pragma once

#include <stdint.h>

#include "sim/SimEc.h"
#include "sim/SpiNorChip.h"

namespace zar::sim {

// "closed with 0xFE", "left in follow mode", ...
const char* EcStateText(EcMode mode);
// What the flasher's exit status means; followEntered tells a good run from
// the usage screen, verb ("/probe", ...; nullptr: the classic line) the
// meanings that differ.
const char* ExitStatusText(int status, bool followEntered, const char* verb = nullptr);

// The run as the hardware would take it, split into the time the chip was
// busy (the host polls it meanwhile) and the rest of the bus time.
struct TimeEstimate {
    uint64_t TotalNs;    // the virtual clock: every port access at its access time
    uint64_t ChipBusyNs; // erase, program and status-write times of the part
    uint64_t BusIdleNs;  // the rest: commands, data and handshakes with the chip idle
};
TimeEstimate EstimateTime(SimEc& ec, const SpiNorChip& chip);
void PrintTimeEstimate(SimEc& ec, const SpiNorChip& chip, uint32_t accessNs);

// Where the chip's contents first differ from the image file.
struct FlashComparison {
    enum Kind : uint8_t { Equal, Differs, NoImage, Unreadable, Empty } Result = NoImage;
    uint32_t Compared = 0;  // image bytes compared: those that fit in the chip
    uint32_t Address = 0;   // first differing address
    uint8_t Chip = 0, Image = 0;
    bool Wrapped = false;   // the image is larger than the chip: its rest is in no chip
    uint32_t ImageSize = 0;
};
// image may be nullptr. Each image byte is compared with the chip's byte at
// its own address; an image larger than the chip can't be equal to it, and
// says so (its later bytes, written at wrapped addresses, overwrote earlier
// ones).
FlashComparison CompareWithImage(const uint8_t* contents, uint32_t size, const char* image);
// The comparison as one line: "equals the image over its N bytes", ...
void PrintFlashComparison(const FlashComparison& comparison, uint32_t chipSize);

struct ReportFacts {
    SimEc* Ec;
    SpiNorChip* Chip;  // its contents as the run left them
    const char* Image;       // nullptr: the run had none
    const char* Verb;        // "/probe", "/read", ...; nullptr: the classic line
    bool RealTiming;
    uint32_t AccessNs;
    int Status;
};
void PrintReport(const ReportFacts& facts);

}  // namespace zar::sim
