#include "flash/FlashErase.h"

#include "Applications/Main/FlashState.h"
#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashRead.h"
#include "flash/SpiOpcodes.h"
#include "platform/Platform.h"

namespace zar {

void FlashEraseSectors(uint8_t block, uint8_t count)
{
    Print(u"Eraseing...      : ");
    if (count > SECTORS_PER_BLOCK)
        count = SECTORS_PER_BLOCK;  // a 17th step would wrap to the block's start
    // ST's M25P parts have no 4 KiB erase; their 0xD8 erases the whole 64 KiB
    // block, so the 16 steps all land in the same erase unit.
    uint8_t opcode = ManufacturerId() == MAKER_ST ? BLOCK_ERASE : SECTOR_ERASE;

    for (uint8_t i = 0; i < count; ++i) {
        // Exact equality in KiB: an image that ends inside a 4 KiB step has
        // that whole step erased.
        if ((FlashState.BlockCounter - 1) * 64 + i * 4 == FlashState.ImageSizeKiB)
            break;
        FlashWriteEnable();
        SpiStartAt(opcode, block, static_cast<uint8_t>(i * 16), 0x00);
        EcSendCommand(FOLLOW_END);
        FlashWaitReady();
        if (EcChannelDead())
            return;
        Print(u"=");
    }
    Print(u" -- Erase OK. \n\n");
}

bool FlashBlankCheck(uint8_t block)
{
    FlashWriteDisable();
    FlashReadStart(static_cast<uint32_t>(block) << 16);
    Print(u"Erase Verify...  : ");

    bool blank = true;
    for (FlashState.ByteIndex = 0; FlashState.ByteIndex < static_cast<int32_t>(BLOCK_SIZE); ++FlashState.ByteIndex) {
        if (FlashState.BlankCheckedBytes == FlashState.ImageSize)
            break;
        uint8_t value = EcFollowRead();
        if (EcChannelDead())
            return false;
        if (value != 0xFF) {
            blank = false;
            break;
        }
        ++FlashState.BlankCheckedBytes;
        if ((FlashState.ByteIndex & 0xFFF) == 0)
            Print(u"=");
    }

    FlashWaitReady();  // its FOLLOW_START ends the read
    if (EcChannelDead())
        return false;
    if (blank)
        Print(u" -- Verify OK. \n\n");
    else
        Print(u" -- Verify Fail. file counter=%x\n", FlashState.ByteIndex);
    return blank;
}

}  // namespace zar
