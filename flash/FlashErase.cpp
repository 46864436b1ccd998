#include "flash/FlashErase.h"

#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashRead.h"
#include "flash/FlashText.h"
#include "flash/SpiOpcodes.h"
#include "platform/Platform.h"

namespace zar {

FlashResult FlashErase(const FlashChip& chip, uint32_t address, uint32_t count)
{
    if (!InAddressSpace(address, count))
        return {FlashOutcome::OutOfRange, 0, 0};
    Print(ERASE_HEADING);
    uint8_t opcode = chip.Maker() == MAKER_ST ? BLOCK_ERASE : SECTOR_ERASE;
    uint32_t first = address & ~(ERASE_STEP - 1);
    uint32_t end = address + count;
    for (uint32_t step = first; step < end; step += ERASE_STEP) {
        FlashWriteEnable(chip);
        SpiStartAt(opcode, static_cast<uint8_t>(step >> 16), static_cast<uint8_t>(step >> 8),
                   static_cast<uint8_t>(step));
        EcSendCommand(FOLLOW_END);
        FlashWaitReady();
        if (EcChannelDead())
            return {FlashOutcome::NoAnswer, step - first, 0};
        Print(u"=");
    }
    Print(ERASE_OK);
    return {FlashOutcome::Done, count, 0};
}

FlashResult FlashBlankCheck(uint32_t address, uint32_t count)
{
    if (!InAddressSpace(address, count))
        return {FlashOutcome::OutOfRange, 0, 0};
    FlashWriteDisable();
    FlashReadStart(address);
    Print(u"Erase Verify...  : ");
    uint32_t offset = 0;
    for (; offset < count; ++offset) {
        uint8_t value = EcFollowRead();
        if (EcChannelDead())
            return {FlashOutcome::NoAnswer, offset, 0};
        if (value != 0xFF)
            break;
        if ((offset & 0xFFF) == 0)
            Print(u"=");
    }
    FlashWaitReady();  // its FOLLOW_START ends the read
    if (EcChannelDead())
        return {FlashOutcome::NoAnswer, offset, 0};
    if (offset == count) {
        Print(u" -- Verify OK. \n\n");
        return {FlashOutcome::Done, count, 0};
    }
    Print(u" -- Verify Fail. file counter=%x\n", offset);
    return {FlashOutcome::Differs, offset, 0};
}

}  // namespace zar
