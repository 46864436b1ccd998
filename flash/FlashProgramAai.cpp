#include "Applications/Main/FlashState.h"
#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashProgram.h"
#include "flash/SpiOpcodes.h"
#include "platform/Platform.h"

namespace zar {
namespace {

constexpr int32_t AAI_MARK_INTERVAL = 3276;  // 11 marks per half

// One write enable, then the block's bytes strictly in order: the first
// command carries the block's address, every later one only data. After each
// command the chip is polled (its FOLLOW_START ends the command) and the next
// command is opened; the last one stays empty and WRDI ends the sequence.
void ProgramAai(uint8_t block, uint8_t opcode, int bytesPerCommand)
{
    FlashWriteEnable();
    SpiStartAt(opcode, block, 0x00, 0x00);
    Print(u"Programing...    : ");

    int sent = 0;  // bytes in the open command; runs on across the halves
    for (FlashState.PageIndex = 0; FlashState.PageIndex < 2; ++FlashState.PageIndex) {
        const uint8_t* half = FlashState.PageIndex == 0 ? FlashState.LowHalf : FlashState.HighHalf;
        for (FlashState.ByteIndex = 0; FlashState.ByteIndex < static_cast<int32_t>(HALF_BLOCK_SIZE);
             ++FlashState.ByteIndex) {
            SpiWrite(half[FlashState.ByteIndex]);
            if (++sent == bytesPerCommand) {
                sent = 0;
                FlashWaitReady();
                if (EcChannelDead())
                    return;
                SpiStart(opcode);
            }
            if (FlashState.ByteIndex % AAI_MARK_INTERVAL == 0)
                Print(u"=");
        }
    }
    FlashWriteDisable();
    FlashWaitReady();
    if (EcChannelDead())
        return;
    Print(u" -- Programing OK. \n\n");
}

}  // namespace

void FlashProgramAaiByte(uint8_t block)
{
    ProgramAai(block, AAI_BYTE_PROGRAM, 1);
}

void FlashProgramAaiWord(uint8_t block)
{
    ProgramAai(block, AAI_WORD_PROGRAM, 2);
}

}  // namespace zar
