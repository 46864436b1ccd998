#include "flash/FlashRead.h"

#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashText.h"
#include "flash/SpiOpcodes.h"
#include "platform/Platform.h"
#include "platform/Uninterrupted.h"

namespace zar {

void FlashReadStart(uint32_t address)
{
    FlashWaitReady();
    SpiStartAt(FAST_READ, static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
               static_cast<uint8_t>(address));
    SpiWrite(0x00);  // dummy byte
}

bool FlashReadBytes(uint8_t* out, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t value = EcFollowRead();
        if (EcChannelDead())
            return false;
        if (out)
            out[i] = value;
    }
    return true;
}

void FlashReadEnd()
{
    FlashWaitReady();
}

// Uninterrupted from the FAST_READ to its end.
FlashComparison FlashCompare(uint32_t address, const uint8_t* expected, int32_t count, bool stopAtFirst)
{
    Uninterrupted held;
    FlashComparison result = {0, 0, -1, 0, false};
    FlashReadStart(address);
    for (int32_t offset = 0; offset < count; ++offset) {
        uint8_t value = EcFollowRead();
        if (EcChannelDead()) {
            result.NoAnswer = true;
            return result;
        }
        ++result.Compared;
        result.Sum += value;
        if (value != expected[offset]) {
            if (result.Differing++ == 0)
                result.FirstDifference = offset;
            if (stopAtFirst)
                break;
        }
    }
    FlashReadEnd();
    result.NoAnswer = EcChannelDead();
    return result;
}

uint8_t FlashReadStatus()
{
    Uninterrupted held;
    SpiStart(RDSR);
    uint8_t status = EcFollowRead();
    EcSendCommand(FOLLOW_END);
    return status;
}

void FlashReadSignature(uint8_t out[4])
{
    Uninterrupted held;
    FlashWaitReady();
    SpiStartAt(RES, 0x00, 0x00, 0x00);
    for (int i = 0; i < 4; ++i)
        out[i] = EcFollowRead();
    EcSendCommand(FOLLOW_END);
}

}  // namespace zar
