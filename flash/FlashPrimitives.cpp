#include "flash/FlashPrimitives.h"

#include "ec/EcChannel.h"
#include "flash/SpiOpcodes.h"
#include "platform/Platform.h"
#include "platform/Uninterrupted.h"

namespace zar {
namespace {

FlashBusTally gBus;

// The transaction open on the bus, for the tally: its opcode's properties
// (0 when the opcode did not go out), whether three address bytes come first
// (AAI commands after the first carry none), and the bytes sent after the
// opcode. The channel waits for IBF to clear after every byte it writes, so
// a byte it is alive to send goes out on the port; a wait that gives up
// after it (the EC did not take it) kills the channel, the byte being out.
struct OpenTransaction {
    uint8_t Opcode;
    uint16_t Properties;
    bool Addressed;
    uint32_t Sent;
};
OpenTransaction gOpen;

// What the open transaction has sent, added to tally. Out of line: the
// program loops that call SpiStart stay small enough to inline the channel.
[[gnu::noinline]] void AddOpenTransaction(FlashBusTally* tally)
{
    if (!(gOpen.Properties & (OP_ERASES | OP_PROGRAMS)))
        return;
    uint32_t bytes = gOpen.Sent;
    uint32_t address = gOpen.Addressed ? 3 : 0;
    if (gOpen.Properties & OP_ERASES) {
        if (bytes >= 3)  // the chip erases at chip select only after a whole address
            ++(gOpen.Opcode == BLOCK_ERASE ? tally->BlockErases : tally->SectorErases);
    } else if (bytes > address) {
        tally->ProgramBytes += bytes - address;
    }
}

// Polls the status register inside one RDSR transaction (the chip repeats it
// while selected) until (status & mask) == want. The bound counts READs.
// With absentAfter, that many 0xFF reads in a row end the poll without giving
// up: nothing drives the bus (see NO_CHIP_POLLS). Returns the last status read.
uint8_t PollStatus(uint8_t mask, uint8_t want, WaitFault fault, uint32_t absentAfter = 0)
{
    SpiStart(RDSR);
    uint32_t polls = CurrentWaitLimits().FlashPolls;
    uint32_t floating = 0;
    for (;;) {
        uint8_t status = EcFollowRead();
        if ((status & mask) == want || EcChannelDead())
            return status;
        floating = status == 0xFF ? floating + 1 : 0;
        if (absentAfter != 0 && floating >= absentAfter)
            return status;
        if (--polls == 0) {
            EcGiveUp(fault);
            return status;
        }
    }
}

// FlashWaitReady's poll, giving the status it ended on.
uint8_t WaitReady()
{
    Uninterrupted held;
    uint8_t status = PollStatus(SR_WIP, 0, WaitFault::FlashBusy);
    EcSendCommand(FOLLOW_END);
    return status;
}

// Identification's wait for the chip to be idle, cut short when no chip
// drives the bus: the ID bytes that follow then read FF and say so.
void WaitReadyOrAbsent()
{
    uint32_t limit = CurrentWaitLimits().FlashPolls;
    PollStatus(SR_WIP, 0, WaitFault::FlashBusy, limit < NO_CHIP_POLLS ? limit : NO_CHIP_POLLS);
    EcSendCommand(FOLLOW_END);
}

}  // namespace

// 0x9F for Atmel is what the table has always said, though Atmel's JEDEC
// code is 0x1F; parts answering 0x1F get no maker's line.
const VendorRow VendorTable[VENDOR_COUNT] = {
    {0xBF, "SST"},      {0xEF, "Winbond"}, {0x9F, "Atmel"}, {0x20, "ST"},   {0x01, "Spansion"},
    {0xC2, "MXIC"},     {0x37, "AMIC"},    {0x1C, "EON"},   {0x8C, "ESMT"}, {0x7F, "PMC"},
};

bool InAddressSpace(uint32_t address, uint32_t count)
{
    return address <= FLASH_ADDRESS_SPACE && count <= FLASH_ADDRESS_SPACE - address;
}

ProgramMethod ProgramMethodOf(const FlashChip& chip)
{
    if (chip.Maker() == MAKER_SST)
        return chip.SstByRes() ? ProgramMethod::AaiByte : ProgramMethod::AaiWord;
    if (chip.Maker() == MAKER_MXIC && chip.Id[2] == MXIC_CHUNKED_ID2)
        return ProgramMethod::Chunked;
    return ProgramMethod::Pages;
}

FlashBusTally FlashBusSent()
{
    FlashBusTally tally = gBus;
    AddOpenTransaction(&tally);
    return tally;
}

void FlashBusReset()
{
    gBus = {};
    gOpen = {};
}

void SpiStart(uint8_t opcode)
{
    AddOpenTransaction(&gBus);
    EcSendCommand(FOLLOW_START);
    EcSendCommand(FOLLOW_OPCODE);
    bool sent = !EcChannelDead();
    EcSendCommand(opcode);
    gOpen = {opcode, sent ? SpiOpcodeProperties(opcode) : uint16_t{0}, false, 0};
    // A status write changes protection, never a byte of the array.
    if (gOpen.Properties & (OP_PROGRAMS | OP_ERASES))
        ++gBus.Writes;
}

void SpiWrite(uint8_t value)
{
    EcSendCommand(FOLLOW_WRITE);
    gOpen.Sent += EcChannelDead() ? 0 : 1;
    EcSendCommand(value);
}

void SpiStartAt(uint8_t opcode, uint8_t a2, uint8_t a1, uint8_t a0)
{
    SpiStart(opcode);
    gOpen.Addressed = (gOpen.Properties & OP_ADDRESS) != 0;
    SpiWrite(a2);
    SpiWrite(a1);
    SpiWrite(a0);
}

void FlashWaitReady()
{
    WaitReady();
}

void FlashWriteEnable(const FlashChip& chip)
{
    Uninterrupted held;
    FlashWaitReady();
    SpiStart(WREN);  // left open: takes effect at the next FOLLOW_START
    if (chip.Maker() == MAKER_SST)
        SpiStart(EWSR);
    PollStatus(SR_WEL | SR_WIP, SR_WEL, WaitFault::WriteEnable);
    EcSendCommand(FOLLOW_END);
}

void FlashWriteDisable()
{
    Uninterrupted held;
    FlashWaitReady();
    SpiStart(WRDI);
    PollStatus(SR_WEL, 0, WaitFault::WriteEnable);
    EcSendCommand(FOLLOW_END);
}

namespace {

// RDID, and RES when RDID answers 00: older SST parts only know RES.
void ReadIdentity(FlashChip* chip)
{
    Uninterrupted held;
    chip->ByRes = false;
    WaitReadyOrAbsent();
    SpiStart(RDID);
    for (uint8_t& byte : chip->Id)
        byte = EcFollowRead();
    MemCopy(chip->RdidAnswer, chip->Id, sizeof chip->RdidAnswer);
    if (chip->Maker() != 0x00) {
        EcSendCommand(FOLLOW_END);
        return;
    }
    chip->ByRes = true;
    WaitReadyOrAbsent();
    SpiStartAt(RES, 0x00, 0x00, 0x00);
    for (uint8_t& byte : chip->Id)
        byte = EcFollowRead();
    EcSendCommand(FOLLOW_END);
    EcSendCommand(FOLLOW_END);
}

}  // namespace

FlashChip FlashIdentify()
{
    FlashChip chip = {};
    ReadIdentity(&chip);
    if (chip.Maker() == 0x00 && !EcChannelDead()) {
        // Neither RDID nor RES answered. An SST part that a run cut short
        // left in AAI mode takes nothing but AAI, RDSR and WRDI until WRDI
        // ends that mode (SST25VF080B, DS25045A, "Auto Address Increment
        // (AAI) Word-Program"): end it and ask once more.
        FlashWriteDisable();
        ReadIdentity(&chip);
    }
    chip.Known = IdentifyPart(chip.Id, chip.ByRes);
    return chip;
}

void FlashReportIdentity(const FlashChip& chip)
{
    const uint8_t* id = chip.Id;
    Print(u"\n\rDevice ID        : %x %x %x %x \n\r", id[0], id[1], id[2], id[3]);
    for (const VendorRow& row : VendorTable) {
        if (row.Id == chip.Maker())
            Print(u"SPI Vendor       : %a \n", row.Name);
    }
}

uint8_t FlashUnprotect(const FlashChip& chip)
{
    Uninterrupted held;
    FlashWaitReady();
    SpiStart(WREN);
    // Only WEL is awaited here; the transaction stays open.
    SpiStart(RDSR);
    uint32_t polls = CurrentWaitLimits().FlashPolls;
    while (!(EcFollowRead() & SR_WEL) && !EcChannelDead()) {
        if (--polls == 0) {
            EcGiveUp(WaitFault::WriteEnable);
            return 0xFF;
        }
    }
    if (chip.Maker() == MAKER_SST)
        SpiStart(EWSR);
    SpiStart(WRSR);
    SpiWrite(0x00);      // clears the block-protect bits
    return WaitReady();  // its FOLLOW_START starts the status write
}

uint8_t ProtectBitsOf(const FlashChip& chip)
{
    return chip.Maker() == MAKER_ATMEL ? SR_SWP : SR_BP0_BP2;
}

PartFit PartFitFor(const FlashChip& chip, uint8_t eraseOpcode)
{
    const FlashPart* part = chip.Known.Part;
    if (part == nullptr)
        return PartFit::Writable;
    if (eraseOpcode == SECTOR_ERASE && part->SectorEraseUnit != 0x1000)
        return PartFit::NoSectorErase;
    if (eraseOpcode == BLOCK_ERASE && part->BlockEraseUnit != 0x10000)
        return PartFit::NoBlockErase;
    ProgramMethod method = ProgramMethodOf(chip);
    bool pages = method == ProgramMethod::Pages || method == ProgramMethod::Chunked;
    if (pages && part->PageSize != 256)
        return PartFit::NoPageProgram;
    return PartFit::Writable;
}

}  // namespace zar
