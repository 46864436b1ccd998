#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashProgram.h"
#include "flash/FlashText.h"
#include "flash/SpiOpcodes.h"
#include "platform/Platform.h"

namespace zar {
namespace {

constexpr uint32_t AAI_MARK_SPAN = 0x8000;
constexpr uint32_t AAI_MARK_INTERVAL = 3276;  // 11 marks per span

// One write enable, then the bytes strictly in order: the first command
// carries the address, every later one only data. After each command the
// chip is polled (its FOLLOW_START ends the command) and the next command is
// opened; the last one stays empty and WRDI ends the sequence.
FlashResult ProgramAai(const FlashChip& chip, uint32_t address, const uint8_t* data, uint32_t count, uint8_t opcode,
                       uint32_t bytesPerCommand)
{
    if (!InAddressSpace(address, count) || address % bytesPerCommand != 0 || count % bytesPerCommand != 0)
        return {FlashOutcome::OutOfRange, 0, 0};
    FlashWriteEnable(chip);
    SpiStartAt(opcode, static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
               static_cast<uint8_t>(address));
    Print(PROGRAM_HEADING);
    uint32_t sent = 0;  // bytes in the open command; runs on across the spans
    for (uint32_t done = 0; done < count;) {
        uint32_t span = count - done < AAI_MARK_SPAN ? count - done : AAI_MARK_SPAN;
        const uint8_t* from = data + done;
        for (uint32_t i = 0; i < span; ++i) {
            SpiWrite(from[i]);
            if (++sent == bytesPerCommand) {
                sent = 0;
                FlashWaitReady();
                if (EcChannelDead())
                    return {FlashOutcome::NoAnswer, done + i + 1, 0};
                SpiStart(opcode);
            }
            if (i % AAI_MARK_INTERVAL == 0)
                Print(u"=");
        }
        done += span;
    }
    FlashWriteDisable();
    FlashWaitReady();
    if (EcChannelDead())
        return {FlashOutcome::NoAnswer, count, 0};
    Print(PROGRAM_OK);
    return {FlashOutcome::Done, count, 0};
}

}  // namespace

FlashResult FlashProgramAaiByte(const FlashChip& chip, uint32_t address, const uint8_t* data, uint32_t count)
{
    return ProgramAai(chip, address, data, count, AAI_BYTE_PROGRAM, 1);
}

FlashResult FlashProgramAaiWord(const FlashChip& chip, uint32_t address, const uint8_t* data, uint32_t count)
{
    return ProgramAai(chip, address, data, count, AAI_WORD_PROGRAM, 2);
}

}  // namespace zar
