// zar /probe [/j]: what is there, without writing anything. The EC's module
// name, follow mode and its acknowledgement, the chip's RDID and RES answers,
// what the part table knows of it, and its status register.
#include "Applications/Main/Banner.h"
#include "Applications/Main/BlockSequence.h"
#include "Applications/Main/ChipGuards.h"
#include "Applications/Main/Main.h"
#include "Applications/Main/ModuleCheck.h"
#include "Applications/Main/RunState.h"
#include "Applications/Main/UserBreak.h"
#include "Applications/Main/VerbSteps.h"
#include "Applications/Main/Verbs.h"
#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashRead.h"
#include "flash/PartTable.h"
#include "flash/SpiOpcodes.h"
#include "platform/Platform.h"

namespace zar {
namespace {

// The name as text: up to its trailing blanks, anything unprintable as '.'.
void PrintModuleName()
{
    char text[MODULE_NAME_LENGTH + 1];
    size_t length = MODULE_NAME_LENGTH;
    while (length > 0 && (RunState.EcModuleName[length - 1] == ' ' || RunState.EcModuleName[length - 1] == 0))
        --length;
    for (size_t i = 0; i < length; ++i) {
        uint8_t c = RunState.EcModuleName[i];
        text[i] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
    }
    text[length] = 0;
    Print(u"\n\rModule name      : %a\n", text);
}

void PrintBytes(const char16_t* label, const uint8_t bytes[4])
{
    Print(u"%s: %02X %02X %02X %02X\n", label, bytes[0], bytes[1], bytes[2], bytes[3]);
}

void PrintPart(const ChipIdentity& chip)
{
    if (chip.Maker)
        Print(u"Maker            : %a (%02X)\n", chip.Maker, RunState.Chip.Maker());
    else
        Print(u"Maker            : unknown (%02X)\n", RunState.Chip.Maker());
    if (chip.Part) {
        Print(u"Part             : %a", chip.Part->Name);
        for (const FlashPart* same = NextPartWithSameId(*chip.Part); same; same = NextPartWithSameId(*same))
            Print(u" or %a", same->Name);
        Print(u"\n");
        Print(u"Size             : %d KiB (%d bytes)\n", chip.Size / 1024, chip.Size);
        if (chip.Part->PageSize)
            Print(u"Page size        : %d bytes\n", chip.Part->PageSize);
        else
            Print(u"Page size        : none (no page program)\n");
        return;
    }
    Print(u"Part             : not in the part table\n");
    if (chip.Size)
        Print(u"Size             : %d KiB (%d bytes), from the RDID capacity byte\n", chip.Size / 1024, chip.Size);
    else
        Print(u"Size             : unknown\n");
    Print(u"Page size        : unknown\n");
}

// The bits most SPI NOR parts share: WIP, WEL, block protection BP0-BP2 (and
// BP3 or TB in bit 5), and SRWD (BPL on SST) locking the register itself.
void PrintStatusRegister(uint8_t status)
{
    Print(u"Status register  : %02X (WIP %d, WEL %d, BP0-BP2 %d%d%d, bit 5 %d, bit 6 %d, SRWD %d)\n", status,
          status & 1, status >> 1 & 1, status >> 4 & 1, status >> 3 & 1, status >> 2 & 1, status >> 5 & 1,
          status >> 6 & 1, status >> 7 & 1);
    if (status & SR_BP0_BP2)
        Print(u"Protection       : blocks are write-protected (zar clears BP0-BP2 before writing a block)\n");
    else if (status & SR_BIT5)
        Print(u"Protection       : BP0-BP2 clear; bit 5 (BP3 on some parts, top/bottom on others) set\n");
    else
        Print(u"Protection       : none: no block is write-protected\n");
    if (status & SR_SRWD)
        Print(u"Register lock    : SRWD/BPL set: status writes are refused while WP# is held low\n");
}

}  // namespace

ExitStatus RunProbe(const Arguments& args)
{
    if (WordsBeforeAltExit(args) != 1)
        return RefuseCommandLine(u"zar /probe [/j]");
    uint8_t closing = ReadOnlyClosingCommand(args);

    PrintBanner();
    if (!ReadEcModuleName()) {
        ReportWaitFault();
        return EXIT_NO_ANSWER;
    }
    PrintModuleName();

    if (!ReadyForFollowMode())
        return EXIT_STOPPED;
    MarkPlace(RunStage::Identification);
    uint8_t ack = EcEnterFollowMode();
    closing = ClosingAfterEntry(ack, closing);
    if (!EcChannelDead())
        RunState.Chip = FlashIdentify();
    if (EcChannelDead())
        return HandBackAndEnd(closing, EXIT_NO_ANSWER, &args, Road::Looks);
    Print(u"Follow mode      : entered, acknowledged with %02X%a\n", ack,
          ack == EC_FOLLOW_ACK ? "" : " (not 33)");

    // RES too, when RDID identified the chip: no more waits on a bus where
    // nothing answers.
    const ChipIdentity& chip = RunState.Chip.Known;
    uint8_t res[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    if (RunState.Chip.ByRes)
        MemCopy(res, RunState.Chip.Id, sizeof res);
    else if (chip.Answered)
        FlashReadSignature(res);
    PrintBytes(u"RDID             ", RunState.Chip.RdidAnswer);
    if (RunState.Chip.ByRes || chip.Answered)
        PrintBytes(u"RES              ", res);

    ExitStatus status = EXIT_OK;
    if (!chip.Answered) {
        SayNoFlashChip();
        status = EXIT_NO_ANSWER;
    } else {
        PrintPart(chip);
        PrintStatusRegister(FlashReadStatus());
    }
    return HandBackAndEnd(closing, status, &args, Road::Looks);
}

}  // namespace zar
