// The run's one state record. Every field starts at zero; main() clears the
// record on entry, so a run never sees what an earlier one left behind.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "ec/EcChannel.h"
#include "ec/ModuleName.h"
#include "flash/FlashPrimitives.h"
#include "platform/Machine.h"
#include "platform/Platform.h"
#include "platform/RunEnding.h"

namespace zar {

// What the run told the user to type next.
enum class RerunAdvice : uint8_t {
    None,             // nothing: the run ended well, or stopped before the EC
    SameCommand,      // the same command again
    SkipModuleCheck,  // the same command with p: the EC may be left in follow mode
    ChangedCommand,   // the command as RerunChange changes it, its second word as given
};

// How the command a run tells the user to type differs from its own, beside
// p after the image: what would be refused again is changed, and said.
struct RerunChanges {
    bool OtherImage;            // IMAGE to fill in: this image does not fit the chip
    bool WithoutBackup;         // "/backup FILE" left out: FILE could not be written
    uint16_t KeepsLeftOut;      // bit i: the (i+1)th "/keep" left out, for KeepsLeftOutWhy
    const char16_t* KeepsLeftOutWhy;
    uint8_t KeepCut;            // the (i+1)th "/keep" cut at the chip's end to CutRange; 0: none
    char CutRange[24];
    bool AsUpdate;              // the classic line given to /update: it writes a part the classic run can't
};

// What the run has shown about the chip, for the closing rule (HandBack.h).
struct ChipKnowledge {
    bool EcRanItsFirmware;  // the EC answered the module check (or a verb's entry) as only a running EC does
    bool ImageWhole;        // the chip was shown to hold the whole image: read back, or compared equal
    uint32_t WritesThen;    // FlashBusSent().Writes when ImageWhole was set
};

// What an /update did, for the run's record.
struct UpdateTally {
    bool Active;     // the run was an /update that got past its command line
    bool BackupWritten;  // "/backup FILE" holds the chip's content from before: a rerun leaves it out
    bool TailAtRisk;     // the chip's bytes from the image's end to TailEnd are erased, not yet read back
    uint32_t TailStart;
    uint32_t TailEnd;
    int32_t SectorsWritten;
    int32_t SectorsEqual;
    int32_t SectorsKept;
};

// The first step of a block that failed, noted as it fails, for the lines
// that name it at the run's end (FailureNote.h).
enum class FailedStep : uint8_t { None, Unprotect, Erase, BlankCheck, Program, Verify };
struct FailureNote {
    FailedStep Step;
    bool WaitRanOut;  // the EC or the chip stopped answering in it
    bool HasByte;     // blank check or verify: the first difference below
    int32_t Block;
    uint32_t Address;
    uint8_t Expected;
    uint8_t Found;
};

// What kept the chip from being written, found before the first erase
// (Protection.h).
enum class ProtectionHolder : uint8_t {
    None,
    StatusRegister,  // SRWD set: the WP# pin held low keeps the protect bits
    PartLock,        // the protect bits stay though SRWD is clear: a lock of the part's own
    PartUnfit,       // the part table: the command's erase or program does not exist on the part
};
struct ProtectionNote {
    ProtectionHolder Holder;
    uint8_t Status;  // the status register as the run last read it
    PartFit Fit;     // PartUnfit: what the part lacks
    bool UpdateWrites;  // PartUnfit on the classic line: /update writes the part
};

// What the run is doing, marked on the EC channel as its place, so that a
// wait that ran out can say where.
enum class RunStage : uint8_t {
    Blocks,          // follow mode, identification and an image's blocks; the mark is the block counter
    ModuleCheck,     // the EC's module name
    Identification,  // follow mode and the chip, on the verbs without blocks
    ReadPass1,       // the chip read whole; the mark is the address being read
    ReadPass2,
    Closing,         // the closing command
    PlanRead,        // /update's read before its plan; the mark is the sector being read
};

// Marks the run's place on the EC channel; a wait that gives up keeps it.
inline void MarkPlace(RunStage stage, uint32_t mark = 0)
{
    EcMarkPlace({static_cast<uint8_t>(stage), mark});
}

constexpr size_t HALF_BLOCK_SIZE = 0x8000;
constexpr size_t BLOCK_SIZE = 0x10000;

struct RunStateRecord {
    // The run
    uint8_t BlockCounter;  // blocks read so far; the current block is BlockCounter - 1 (the EC channel's place)
    uint32_t Checksum;
    PlatformFile* ImageFile;  // open from its measuring until it has been read whole
    uint8_t FileModuleName[MODULE_NAME_LENGTH];
    uint8_t EcModuleName[MODULE_NAME_LENGTH];
    bool EcModuleNameRead;  // EcModuleName holds what the EC answered, for the run's record

    // Image and byte counters
    int32_t ImageSize;
    int32_t ProgrammedBytes;
    int32_t VerifiedBytes;
    int32_t ImageBytesRead;  // what the blocks have taken of the image so far
    bool ImageReadFailed;    // reading the image whole came up short of ImageSize bytes
    uint8_t* Image;          // the whole image, ImageSize bytes, read before the EC is touched
    uint32_t ImageCrc;       // CRC-32 of Image, for the run's record
    bool ImageCrcKnown;      // Image was read whole and ImageCrc is its CRC-32

    // The current block: BLOCK_SIZE bytes, the image's and 0xFF past its end
    uint8_t* Block;

    // The flash chip, as identification found it
    FlashChip Chip;

    // What became of the blocks, for the run's record
    int32_t BlocksWritten;    // erased, programmed and verified
    int32_t BlocksUnchanged;  // already equal to the image: left alone
    int32_t BlocksFailed;     // blank check or verify failed, or the EC stopped answering
    UpdateTally Update;

    // Fail-safe
    bool OutOfMemory;     // the run ended because an allocation failed
    RerunAdvice Rerun;

    // Ctrl-C (Applications/Main/UserBreak.h)
    bool Stopped;         // the run ended on a Ctrl-C before follow mode
    bool TakingBreaks;    // follow mode is entered: a Ctrl-C is taken and ignored
    bool BreakIgnored;    // the console has said so

    RerunChanges RerunChange;
    ChipKnowledge Known;

    // The end of the program ("/wait", "/then"; platform/RunEnding.h)
    RunEnding Ending;
    bool ClosingTaken;  // the EC took its closing command: it is out of follow mode
    bool ShowedUsage;   // no command line: only the usage screen
    FailureNote Failure;
    ProtectionNote Protection;
};

extern RunStateRecord RunState;

}  // namespace zar
