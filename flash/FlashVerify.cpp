#include "flash/FlashVerify.h"

#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashRead.h"
#include "flash/FlashText.h"
#include "platform/Platform.h"
#include "platform/Uninterrupted.h"

namespace zar {
namespace {

// A difference in the second 32 KiB is named as the run has always named
// it: "str2[...]" with its offset plus 0x8000 and the expected byte.
constexpr uint32_t SECOND_HALF = 0x8000;

// The verify's read, uninterrupted from the FAST_READ to its end; *marks
// counts the progress marks it owes the console.
FlashResult VerifyRead(uint32_t address, const uint8_t* expected, uint32_t count, uint32_t* marks)
{
    Uninterrupted held;
    FlashReadStart(address);
    uint32_t sum = 0;
    for (uint32_t offset = 0; offset < count; ++offset) {
        uint8_t value = EcFollowRead();
        if (EcChannelDead())
            return {FlashOutcome::NoAnswer, offset, sum};
        sum += value;
        if (value != expected[offset]) {
            FlashWaitReady();
            return {EcChannelDead() ? FlashOutcome::NoAnswer : FlashOutcome::Differs, offset + 1, sum, value};
        }
        if ((offset & 0xFFF) == 0)
            ++*marks;
    }
    FlashWaitReady();
    return {EcChannelDead() ? FlashOutcome::NoAnswer : FlashOutcome::Done, count, sum};
}

}  // namespace

FlashResult FlashVerify(uint32_t address, const uint8_t* expected, uint32_t count)
{
    if (!InAddressSpace(address, count))
        return {FlashOutcome::OutOfRange, 0, 0};
    FlashWriteDisable();
    Print(u"Verify...        : ");
    uint32_t marks = 0;
    FlashResult read = VerifyRead(address, expected, count, &marks);
    PrintMarks(marks);
    if (read.Outcome == FlashOutcome::Done) {
        Print(u" -- Verify OK. \n");
    } else if (read.Outcome == FlashOutcome::Differs) {
        uint32_t offset = read.Bytes - 1;
        Print(u" -- Verify Fail. \n");
        if (offset >= SECOND_HALF)
            Print(u"\nstr2[%x]=%x", offset + SECOND_HALF, expected[offset]);
    }
    return read;
}

}  // namespace zar
