#include "flash/FlashPrimitives.h"

#include "Applications/Main/FlashState.h"
#include "ec/EcChannel.h"
#include "flash/SpiOpcodes.h"
#include "platform/Platform.h"

namespace zar {
namespace {

void PrintSst() { Print(u"SPI Vendor       : SST \n"); }
void PrintWinbond() { Print(u"SPI Vendor       : Winbond \n"); }
void PrintAtmel() { Print(u"SPI Vendor       : Atmel \n"); }
void PrintSt() { Print(u"SPI Vendor       : ST \n"); }
void PrintSpansion() { Print(u"SPI Vendor       : Spansion \n"); }
void PrintMxic() { Print(u"SPI Vendor       : MXIC \n"); }
void PrintAmic() { Print(u"SPI Vendor       : AMIC \n"); }
void PrintEon() { Print(u"SPI Vendor       : EON \n"); }
void PrintEsmt() { Print(u"SPI Vendor       : ESMT \n"); }
void PrintPmc() { Print(u"SPI Vendor       : PMC \n"); }

// Polls the status register inside one RDSR transaction (the chip repeats it
// while selected) until (status & mask) == want. The bound counts READs.
// With absentAfter, that many 0xFF reads in a row end the poll without giving
// up: nothing drives the bus (see NO_CHIP_POLLS).
void PollStatus(uint8_t mask, uint8_t want, WaitFault fault, uint32_t absentAfter = 0)
{
    SpiStart(RDSR);
    uint32_t polls = CurrentWaitLimits().FlashPolls;
    uint32_t floating = 0;
    for (;;) {
        uint8_t status = EcFollowRead();
        if ((status & mask) == want || EcChannelDead())
            return;
        floating = status == 0xFF ? floating + 1 : 0;
        if (absentAfter != 0 && floating >= absentAfter)
            return;
        if (--polls == 0) {
            EcGiveUp(fault);
            return;
        }
    }
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
    {0xBF, PrintSst, "SST"},   {0xEF, PrintWinbond, "Winbond"},   {0x9F, PrintAtmel, "Atmel"}, {0x20, PrintSt, "ST"},
    {0x01, PrintSpansion, "Spansion"}, {0xC2, PrintMxic, "MXIC"}, {0x37, PrintAmic, "AMIC"},   {0x1C, PrintEon, "EON"},
    {0x8C, PrintEsmt, "ESMT"}, {0x7F, PrintPmc, "PMC"},
};

void SpiStart(uint8_t opcode)
{
    EcSendCommand(FOLLOW_START);
    EcSendCommand(FOLLOW_OPCODE);
    EcSendCommand(opcode);
}

void SpiWrite(uint8_t value)
{
    EcSendCommand(FOLLOW_WRITE);
    EcSendCommand(value);
}

void SpiStartAt(uint8_t opcode, uint8_t a2, uint8_t a1, uint8_t a0)
{
    SpiStart(opcode);
    SpiWrite(a2);
    SpiWrite(a1);
    SpiWrite(a0);
}

void FlashWaitReady()
{
    PollStatus(SR_WIP, 0, WaitFault::FlashBusy);
    EcSendCommand(FOLLOW_END);
}

void FlashWriteEnable()
{
    FlashWaitReady();
    SpiStart(WREN);  // left open: takes effect at the next FOLLOW_START
    if (ManufacturerId() == MAKER_SST)
        SpiStart(EWSR);
    PollStatus(SR_WEL | SR_WIP, SR_WEL, WaitFault::WriteEnable);
    EcSendCommand(FOLLOW_END);
}

void FlashWriteDisable()
{
    FlashWaitReady();
    SpiStart(WRDI);
    PollStatus(SR_WEL, 0, WaitFault::WriteEnable);
    EcSendCommand(FOLLOW_END);
}

namespace {

void ReadIdentity()
{
    FlashState.IdByRes = false;
    WaitReadyOrAbsent();
    SpiStart(RDID);
    for (uint8_t& byte : FlashState.FlashId)
        byte = EcFollowRead();
    MemCopy(FlashState.RdidAnswer, FlashState.FlashId, sizeof FlashState.RdidAnswer);
    if (ManufacturerId() != 0x00) {
        EcSendCommand(FOLLOW_END);
        return;
    }

    // No JEDEC answer: older SST parts only know RES.
    FlashState.IdByRes = true;
    WaitReadyOrAbsent();
    SpiStartAt(RES, 0x00, 0x00, 0x00);
    for (uint8_t& byte : FlashState.FlashId)
        byte = EcFollowRead();
    FlashState.SstIdByRes = ManufacturerId() == MAKER_SST ? 1 : 0;
    EcSendCommand(FOLLOW_END);
    EcSendCommand(FOLLOW_END);
}

}  // namespace

void FlashIdentify()
{
    ReadIdentity();
    if (ManufacturerId() == 0x00 && !EcChannelDead()) {
        // Neither RDID nor RES answered. An SST part that a run cut short
        // left in AAI mode takes nothing but AAI, RDSR and WRDI until WRDI
        // ends that mode (SST25VF080B, DS25045A, "Auto Address Increment
        // (AAI) Word-Program"): end it and ask once more.
        FlashWriteDisable();
        ReadIdentity();
    }
}

void FlashReportIdentity()
{
    const uint8_t* id = FlashState.FlashId;
    Print(u"\n\rDevice ID        : %x %x %x %x \n\r", id[0], id[1], id[2], id[3]);
    for (const VendorRow& row : VendorTable) {
        if (row.Id == ManufacturerId())
            row.PrintLine();
    }
}

void FlashUnprotect()
{
    FlashWaitReady();
    SpiStart(WREN);
    // Only WEL is awaited here; the transaction stays open.
    SpiStart(RDSR);
    uint32_t polls = CurrentWaitLimits().FlashPolls;
    while (!(EcFollowRead() & SR_WEL) && !EcChannelDead()) {
        if (--polls == 0) {
            EcGiveUp(WaitFault::WriteEnable);
            return;
        }
    }
    if (ManufacturerId() == MAKER_SST)
        SpiStart(EWSR);
    SpiStart(WRSR);
    SpiWrite(0x00);     // clears the block-protect bits
    FlashWaitReady();   // its FOLLOW_START starts the status write
}

}  // namespace zar
