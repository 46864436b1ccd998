// The run's one state record. Every field starts at zero; main() clears the
// record on entry, so a run never sees what an earlier one left behind.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "ec/ModuleName.h"
#include "platform/Platform.h"

namespace zar {

// Which bounded wait gave up. Once set, the EC channel sends nothing more and
// the run ends through its timeout exit (status EXIT_NO_ANSWER).
enum class WaitFault : uint8_t {
    None,
    EcInputBuffer,   // IBF never cleared
    EcOutputBuffer,  // OBF never set
    FlashBusy,       // SR_WIP never cleared
    WriteEnable,     // SR_WEL never reached the wanted state
};

// What the run told the user to type next.
enum class RerunAdvice : uint8_t {
    None,             // nothing: the run ended well, or stopped before the EC
    SameCommand,      // the same command again
    SkipModuleCheck,  // the same command with p: the EC may be left in follow mode
};

// What the run was doing, so that a wait that ran out can say where.
enum class RunStage : uint8_t {
    Blocks,          // follow mode, identification and an image's blocks (FaultBlock tells which)
    ModuleCheck,     // the EC's module name
    Identification,  // follow mode and the chip, on the verbs without blocks
    ReadPass1,       // the chip read whole; StageAddress is where the wait ran out
    ReadPass2,
    Closing,         // the closing command
};

constexpr size_t HALF_BLOCK_SIZE = 0x8000;
constexpr size_t BLOCK_SIZE = 0x10000;

struct FlashStateRecord {
    // EC ports
    uint8_t DataPort;
    uint8_t CommandPort;
    uint8_t StatusPort;

    // The run
    uint8_t BlockCounter;  // blocks read so far; the current block is BlockCounter - 1
    uint32_t Checksum;
    PlatformFile* ImageFile;
    uint8_t FileModuleName[MODULE_NAME_LENGTH];
    uint8_t EcModuleName[MODULE_NAME_LENGTH];

    // Image and byte counters
    int32_t ImageSize;
    int32_t ImageSizeKiB;
    int32_t BlankCheckedBytes;
    int32_t ProgrammedBytes;
    int32_t VerifiedBytes;
    int32_t ImageBytesRead;  // what the block reads have delivered so far
    bool ImageReadFailed;    // a read came up short before ImageSize bytes

    // The current block
    uint8_t* LowHalf;   // block offsets 0x0000-0x7FFF
    uint8_t* HighHalf;  // block offsets 0x8000-0xFFFF
    int32_t LowCount;
    int32_t HighCount;

    // The flash chip
    uint8_t FlashId[4];  // as the chip sent them; FlashId[0] is the maker
    uint8_t SstIdByRes;  // 1 when RES (not RDID) reported an SST part
    bool IdByRes;        // RDID answered 00: FlashId holds the RES answer
    uint8_t RdidAnswer[4];  // what RDID answered, kept when RES took over

    // Loop positions, set by each flash operation before use
    int32_t PageIndex;
    int32_t ByteIndex;
    int32_t ChunkIndex;

    // What became of the blocks, for the run's record
    int32_t BlocksWritten;    // erased, programmed and verified
    int32_t BlocksUnchanged;  // already equal to the image: left alone
    int32_t BlocksFailed;     // blank check or verify failed, or the EC stopped answering

    // Fail-safe
    WaitFault Fault;
    uint8_t FaultBlock;   // BlockCounter when the wait gave up
    RunStage Stage;
    uint32_t StageAddress;
    bool OutOfMemory;     // the run ended because an allocation failed
    RerunAdvice Rerun;
};

extern FlashStateRecord FlashState;

inline uint8_t ManufacturerId()
{
    return FlashState.FlashId[0];
}

}  // namespace zar
