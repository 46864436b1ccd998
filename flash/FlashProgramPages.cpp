#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashProgram.h"
#include "flash/FlashText.h"
#include "flash/SpiOpcodes.h"
#include "platform/Platform.h"
#include "platform/Uninterrupted.h"

namespace zar {
namespace {

constexpr uint32_t PAGE_SIZE = 256;
constexpr uint32_t CHUNK_SIZE = 32;

void StartProgramAt(uint32_t address)
{
    SpiStartAt(PAGE_PROGRAM, static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
               static_cast<uint8_t>(address));
}

// Bytes from offset to the end of its page, or of the range if sooner.
uint32_t ToPageEnd(uint32_t address, uint32_t offset, uint32_t count)
{
    uint32_t room = PAGE_SIZE - ((address + offset) & (PAGE_SIZE - 1));
    return count - offset < room ? count - offset : room;
}

// One page from done (the range's offset) on, as programs of up to chunk
// bytes, then its wait: uninterrupted, as each program stays open until the
// next FOLLOW_START ends it. Returns the range's offset after the page.
uint32_t ProgramOnePage(const FlashChip& chip, uint32_t address, const uint8_t* data, uint32_t count,
                        uint32_t chunk, uint32_t done)
{
    Uninterrupted held;
    uint32_t pageEnd = done + ToPageEnd(address, done, count);
    while (done < pageEnd) {
        uint32_t room = chunk - ((address + done) & (chunk - 1));
        uint32_t bytes = pageEnd - done < room ? pageEnd - done : room;
        FlashWriteEnable(chip);  // waits for the previous chunk too
        StartProgramAt(address + done);
        const uint8_t* from = data + done;
        for (uint32_t i = 0; i < bytes; ++i)
            SpiWrite(from[i]);
        done += bytes;
    }
    FlashWaitReady();  // its FOLLOW_START ends the last program: the chip writes it now
    return done;
}

// Each page as programs of up to chunk bytes (never past the page's end),
// then one wait; a mark every markEvery pages.
FlashResult ProgramPageByPage(const FlashChip& chip, uint32_t address, const uint8_t* data, uint32_t count,
                              uint32_t chunk, uint32_t markEvery)
{
    if (!InAddressSpace(address, count))
        return {FlashOutcome::OutOfRange, 0, 0};
    Print(PROGRAM_HEADING);
    uint32_t done = 0;
    for (uint32_t page = 0; done < count; ++page) {
        done = ProgramOnePage(chip, address, data, count, chunk, done);
        if (EcChannelDead())
            return {FlashOutcome::NoAnswer, done, 0};
        if (page % markEvery == 0)
            Print(u"=");
    }
    FlashWriteDisable();
    if (EcChannelDead())
        return {FlashOutcome::NoAnswer, count, 0};
    Print(PROGRAM_OK);
    return {FlashOutcome::Done, count, 0};
}

}  // namespace

FlashResult FlashProgramPages(const FlashChip& chip, uint32_t address, const uint8_t* data, uint32_t count)
{
    return ProgramPageByPage(chip, address, data, count, PAGE_SIZE, 16);
}

FlashResult FlashProgramChunked(const FlashChip& chip, uint32_t address, const uint8_t* data, uint32_t count)
{
    return ProgramPageByPage(chip, address, data, count, CHUNK_SIZE, 12);
}

}  // namespace zar
