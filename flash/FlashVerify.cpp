#include "flash/FlashVerify.h"

#include "Applications/Main/FlashState.h"
#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashRead.h"
#include "platform/Platform.h"

namespace zar {

bool FlashVerifyBlock(uint8_t block)
{
    FlashWriteDisable();
    FlashReadStart(static_cast<uint32_t>(block) << 16);
    Print(u"Verify...        : ");

    for (int half = 0; half < 2; ++half) {
        const uint8_t* expected = half == 0 ? FlashState.LowHalf : FlashState.HighHalf;
        for (int32_t position = 0; position < static_cast<int32_t>(HALF_BLOCK_SIZE); ++position) {
            if (FlashState.VerifiedBytes == FlashState.ImageSize)
                break;
            uint8_t value = EcFollowRead();
            if (EcChannelDead())
                return false;
            // Counted and summed before the comparison: a differing byte is in
            // the checksum too.
            ++FlashState.VerifiedBytes;
            FlashState.Checksum += value;
            if (value != expected[position]) {
                FlashWaitReady();
                if (EcChannelDead())
                    return false;
                Print(u" -- Verify Fail. \n");
                if (half == 1)
                    Print(u"\nstr2[%x]=%x", 0x10000 + position, expected[position]);
                return false;
            }
            if ((position & 0xFFF) == 0)
                Print(u"=");
        }
    }
    FlashWaitReady();
    if (EcChannelDead())
        return false;
    Print(u" -- Verify OK. \n");
    return true;
}

}  // namespace zar
