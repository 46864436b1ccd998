#include "flash/FlashVerify.h"

#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashRead.h"
#include "platform/Platform.h"

namespace zar {

// A difference in the second 32 KiB is named as the run has always named
// it: "str2[...]" with its offset plus 0x8000 and the expected byte.
constexpr uint32_t SECOND_HALF = 0x8000;

FlashResult FlashVerify(uint32_t address, const uint8_t* expected, uint32_t count)
{
    if (!InAddressSpace(address, count))
        return {FlashOutcome::OutOfRange, 0, 0};
    FlashWriteDisable();
    FlashReadStart(address);
    Print(u"Verify...        : ");
    uint32_t sum = 0;
    for (uint32_t offset = 0; offset < count; ++offset) {
        uint8_t value = EcFollowRead();
        if (EcChannelDead())
            return {FlashOutcome::NoAnswer, offset, sum};
        sum += value;
        if (value != expected[offset]) {
            FlashWaitReady();
            if (EcChannelDead())
                return {FlashOutcome::NoAnswer, offset + 1, sum};
            Print(u" -- Verify Fail. \n");
            if (offset >= SECOND_HALF)
                Print(u"\nstr2[%x]=%x", offset + SECOND_HALF, expected[offset]);
            return {FlashOutcome::Differs, offset + 1, sum};
        }
        if ((offset & 0xFFF) == 0)
            Print(u"=");
    }
    FlashWaitReady();
    if (EcChannelDead())
        return {FlashOutcome::NoAnswer, count, sum};
    Print(u" -- Verify OK. \n");
    return {FlashOutcome::Done, count, sum};
}

}  // namespace zar
