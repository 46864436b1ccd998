// zar /read FILE [SIZE] [/j]: the whole chip into FILE, for a backup. The
// chip is read twice, a FAST_READ for each 64 KiB block, and FILE is written
// only when both reads agree; an existing FILE is never replaced.
#include "Applications/Main/Banner.h"
#include "Applications/Main/BlockSequence.h"
#include "Applications/Main/ChipGuards.h"
#include "Applications/Main/Main.h"
#include "Applications/Main/RunState.h"
#include "Applications/Main/UserBreak.h"
#include "Applications/Main/VerbSteps.h"
#include "Applications/Main/Verbs.h"
#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashRead.h"
#include "flash/PartTable.h"
#include "platform/Crc32.h"
#include "platform/Platform.h"
#include "platform/Text.h"

namespace zar {
namespace {

constexpr uint32_t MAX_READ_SIZE = 0x1000000;  // 24-bit flash addresses

ExitStatus SaveBackup(NewFile* backup, const uint8_t* data, uint32_t size)
{
    bool deleted = false;
    if (!WriteNewFile(backup, data, size, &deleted)) {
        if (deleted)
            Print(u"\n\rFILE WRITE ERROR!! %a could not be written whole; it was deleted.\n", backup->Name);
        else
            Print(u"\n\rFILE WRITE ERROR!! %a could not be written whole: do not keep it as a backup.\n",
                  backup->Name);
        return EXIT_BAD_IMAGE;
    }
    uint32_t sum = 0;
    for (uint32_t i = 0; i < size; ++i)
        sum += data[i];
    // The run's record gives the file's size and checksum as a flash run's.
    RunState.ImageSize = static_cast<int32_t>(size);
    RunState.Checksum = sum;
    Print(u"\n\rSaved            : %d bytes into %a\n", size, backup->Name);
    Print(u"Checksum         : %04X\n", sum);
    Print(u"CRC-32           : %08X\n", Crc32(0, data, size));
    return EXIT_OK;
}

// Both passes and the file; the EC is still in follow mode afterwards.
ExitStatus ReadChipInto(NewFile* backup, uint32_t size)
{
    auto* data = static_cast<uint8_t*>(MemAlloc(size));
    if (data == nullptr) {
        Print(u"\n\rOUT OF MEMORY!! No room for the chip's %d bytes.\n", size);
        RunState.OutOfMemory = true;
        return EXIT_BAD_IMAGE;
    }
    uint32_t first = 0;
    Print(u"\n\r");
    int32_t differing = ReadChipPass(u"Reading...       : ", RunStage::ReadPass1, data, nullptr, size, &first);
    if (differing >= 0) {
        Print(u" -- %d bytes. \n", size);
        differing = ReadChipPass(u"Reading again... : ", RunStage::ReadPass2, nullptr, data, size, &first);
    }
    ExitStatus status = EXIT_OK;
    if (differing < 0) {
        status = EXIT_NO_ANSWER;
    } else if (differing > 0) {
        Print(u" -- Differ. \n");
        Print(u"\n\rREAD MISMATCH!! The two reads disagree on %d byte(s), the first at %x (%02X the first time). "
              u"%a was not written: run /read again.\n",
              differing, first, data[first], backup->Name);
        status = EXIT_FLASH_FAILED;
    } else {
        Print(u" -- Same. \n");
        status = SaveBackup(backup, data, size);
    }
    MemFree(data);
    return status;
}

// From the banner to the hand-back, with FILE claimed.
ExitStatus ReadChipToBackup(const Arguments& args, uint64_t given, NewFile* backup)
{
    uint8_t closing = ReadOnlyClosingCommand(args);

    PrintBanner();
    if (!ReadyForFollowMode())
        return EXIT_STOPPED;
    MarkPlace(RunStage::Identification);
    if (!EnterFollowModeAndIdentify(&closing))
        return HandBackAndEnd(closing, EXIT_NO_ANSWER, &args, Road::Looks);
    if (ExitStatus refused = GuardChip(0, closing, args, Road::Looks); refused != EXIT_OK)
        return refused;
    FlashReportIdentity(RunState.Chip);

    const ChipIdentity& chip = RunState.Chip.Known;
    auto size = static_cast<uint32_t>(given ? given : chip.Size);
    ExitStatus status = EXIT_OK;
    if (size == 0) {
        Print(u"\n\rSIZE UNKNOWN!! The part table does not know this chip's size: give it, zar /read FILE SIZE.\n");
        status = EXIT_BAD_IMAGE;
    } else if (chip.Size != 0 && size > chip.Size) {
        Print(u"\n\rSIZE ERROR!! The chip holds %d bytes, fewer than the %d asked for.\n", chip.Size, size);
        status = EXIT_BAD_IMAGE;
    } else {
        status = ReadChipInto(backup, size);  // EXIT_NO_ANSWER: the channel is dead, nothing more goes out
    }
    return HandBackAndEnd(closing, status, &args, Road::Looks);
}

}  // namespace

ExitStatus RunRead(const Arguments& args)
{
    constexpr const char16_t* REFUSAL = u"\nCOMMAND LINE ERROR!! Usage: zar /read FILE [SIZE] [/j]\n";
    const char* name = FileNameWord(args, 1, REFUSAL);
    if (name == nullptr)
        return EXIT_BAD_IMAGE;
    int words = WordsBeforeAltExit(args);
    if (words > 3) {
        Print(u"%s", REFUSAL);
        return EXIT_BAD_IMAGE;
    }
    uint64_t given = 0;
    if (words == 3 && (!ParseNumber(args.At(2), &given) || given == 0 || given > MAX_READ_SIZE)) {
        Print(u"\nSIZE ERROR!! SIZE is a byte count from 1 to %d (0x%x), decimal or 0x hex.\n", MAX_READ_SIZE,
              MAX_READ_SIZE);
        return EXIT_BAD_IMAGE;
    }
    NewFile backup;
    if (!ClaimNewFile(&backup, name, u"/read"))  // before the EC is touched; deleted unless saved whole
        return EXIT_BAD_IMAGE;
    ExitStatus status = ReadChipToBackup(args, given, &backup);
    DiscardNewFile(&backup);
    return status;
}

}  // namespace zar
