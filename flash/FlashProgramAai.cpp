#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashProgram.h"
#include "flash/FlashText.h"
#include "flash/SpiOpcodes.h"
#include "platform/Platform.h"
#include "platform/Uninterrupted.h"

namespace zar {
namespace {

constexpr uint32_t AAI_MARK_SPAN = 0x8000;
constexpr uint32_t AAI_MARK_INTERVAL = 3276;  // 11 marks per span

// Whether the byte at offset (from the range's start) earns a mark.
bool AaiMark(uint32_t offset)
{
    return offset % AAI_MARK_SPAN % AAI_MARK_INTERVAL == 0;
}

// One AAI command, uninterrupted: opened by write enable and the address
// (the first) or the bare opcode (every later one), its bytes, and the wait
// whose FOLLOW_START ends it. With no bytes left, the last command opened
// stays empty and WRDI ends the sequence. False when the channel died.
bool SendAaiCommand(const FlashChip& chip, uint32_t address, uint32_t at, const uint8_t* bytes, uint32_t count,
                    uint8_t opcode)
{
    Uninterrupted held;
    if (at == 0) {
        FlashWriteEnable(chip);
        SpiStartAt(opcode, static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
                   static_cast<uint8_t>(address));
    } else {
        SpiStart(opcode);
    }
    for (uint32_t i = 0; i < count; ++i)
        SpiWrite(bytes[i]);
    if (count == 0)
        FlashWriteDisable();
    FlashWaitReady();
    return !EcChannelDead();
}

// One write enable, then the bytes strictly in order: the first command
// carries the address, every later one only data, and the chip is polled
// after each. The marks come between commands, each where its byte's command
// ended; a command's last byte has its mark only when the chip answered the
// poll after it.
FlashResult ProgramAai(const FlashChip& chip, uint32_t address, const uint8_t* data, uint32_t count, uint8_t opcode,
                       uint32_t bytesPerCommand)
{
    if (!InAddressSpace(address, count) || address % bytesPerCommand != 0 || count % bytesPerCommand != 0)
        return {FlashOutcome::OutOfRange, 0, 0};
    Print(PROGRAM_HEADING);
    for (uint32_t at = 0; at < count; at += bytesPerCommand) {
        bool alive = SendAaiCommand(chip, address, at, data + at, bytesPerCommand, opcode);
        uint32_t last = at + bytesPerCommand - 1;
        for (uint32_t offset = at; offset <= last; ++offset) {
            if (AaiMark(offset) && (alive || offset != last))
                Print(u"=");
        }
        if (!alive)
            return {FlashOutcome::NoAnswer, at + bytesPerCommand, 0};
    }
    if (!SendAaiCommand(chip, address, count, nullptr, 0, opcode))
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
