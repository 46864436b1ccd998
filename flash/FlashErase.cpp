#include "flash/FlashErase.h"

#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashRead.h"
#include "flash/FlashText.h"
#include "flash/SpiOpcodes.h"
#include "platform/Platform.h"
#include "platform/Uninterrupted.h"

namespace zar {
namespace {

// One erase command at address, and the wait for the chip to finish it.
void SendErase(const FlashChip& chip, uint8_t opcode, uint32_t address)
{
    Uninterrupted held;
    FlashWriteEnable(chip);
    SpiStartAt(opcode, static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
               static_cast<uint8_t>(address));
    EcSendCommand(FOLLOW_END);
    FlashWaitReady();
}

// The blank check's read, uninterrupted from the FAST_READ to its end: the
// offset of the first byte that is not 0xFF (that byte in *found), or count.
// *marks counts the progress marks it owes the console.
uint32_t BlankRead(uint32_t address, uint32_t count, uint32_t* marks, uint8_t* found)
{
    Uninterrupted held;
    FlashReadStart(address);
    uint32_t offset = 0;
    for (; offset < count; ++offset) {
        uint8_t value = EcFollowRead();
        if (EcChannelDead())
            return offset;
        *found = value;
        if (value != 0xFF)
            break;
        if ((offset & 0xFFF) == 0)
            ++*marks;
    }
    FlashWaitReady();  // its FOLLOW_START ends the read
    return offset;
}

}  // namespace

uint8_t EraseStepOpcode(const FlashChip& chip)
{
    return chip.Maker() == MAKER_ST ? BLOCK_ERASE : SECTOR_ERASE;
}

FlashResult FlashErase(const FlashChip& chip, uint32_t address, uint32_t count)
{
    if (!InAddressSpace(address, count))
        return {FlashOutcome::OutOfRange, 0, 0};
    Print(ERASE_HEADING);
    uint8_t opcode = EraseStepOpcode(chip);
    uint32_t first = address & ~(ERASE_STEP - 1);
    uint32_t end = address + count;
    for (uint32_t step = first; step < end; step += ERASE_STEP) {
        SendErase(chip, opcode, step);
        if (EcChannelDead())
            return {FlashOutcome::NoAnswer, step - first, 0};
        Print(u"=");
    }
    Print(ERASE_OK);
    return {FlashOutcome::Done, count, 0};
}

FlashResult FlashEraseBlock(const FlashChip& chip, uint32_t address)
{
    constexpr uint32_t BLOCK = 0x10000;
    uint32_t start = address & ~(BLOCK - 1);
    if (!InAddressSpace(start, BLOCK))
        return {FlashOutcome::OutOfRange, 0, 0};
    Print(u"Eraseing...      : ");
    SendErase(chip, BLOCK_ERASE, start);
    if (EcChannelDead())
        return {FlashOutcome::NoAnswer, 0, 0};
    Print(u"= -- Erase OK. \n\n");
    return {FlashOutcome::Done, BLOCK, 0};
}

FlashResult FlashBlankCheck(uint32_t address, uint32_t count)
{
    if (!InAddressSpace(address, count))
        return {FlashOutcome::OutOfRange, 0, 0};
    FlashWriteDisable();
    Print(u"Erase Verify...  : ");
    uint32_t marks = 0;
    uint8_t found = 0xFF;
    uint32_t offset = BlankRead(address, count, &marks, &found);
    PrintMarks(marks);
    if (EcChannelDead())
        return {FlashOutcome::NoAnswer, offset, 0};
    if (offset == count) {
        Print(u" -- Verify OK. \n\n");
        return {FlashOutcome::Done, count, 0};
    }
    Print(u" -- Verify Fail. file counter=%x\n", offset);
    return {FlashOutcome::Differs, offset, 0, found};
}

}  // namespace zar
