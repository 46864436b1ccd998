#include "Applications/Main/FlashState.h"
#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashProgram.h"
#include "flash/SpiOpcodes.h"
#include "platform/Platform.h"

namespace zar {

constexpr int32_t PAGE_SIZE = 256;
constexpr int32_t PAGES_PER_BLOCK = 256;
constexpr int32_t CHUNK_SIZE = 32;
constexpr int32_t CHUNKS_PER_PAGE = 8;

const uint8_t* PageData(int32_t page)
{
    return page < 128 ? FlashState.LowHalf + page * PAGE_SIZE : FlashState.HighHalf + (page - 128) * PAGE_SIZE;
}

void FlashProgramPages(uint8_t block)
{
    Print(u"Programing...    : ");
    for (FlashState.PageIndex = 0; FlashState.PageIndex < PAGES_PER_BLOCK; ++FlashState.PageIndex) {
        if (FlashState.ProgrammedBytes == FlashState.ImageSize)
            break;
        FlashWriteEnable();
        SpiStartAt(PAGE_PROGRAM, block, static_cast<uint8_t>(FlashState.PageIndex), 0x00);
        const uint8_t* data = PageData(FlashState.PageIndex);
        for (FlashState.ByteIndex = 0; FlashState.ByteIndex < PAGE_SIZE; ++FlashState.ByteIndex) {
            if (FlashState.ProgrammedBytes == FlashState.ImageSize)
                break;
            SpiWrite(data[FlashState.ByteIndex]);
            ++FlashState.ProgrammedBytes;
        }
        FlashWaitReady();  // its FOLLOW_START ends the page: the chip programs it now
        if (EcChannelDead())
            return;
        if (FlashState.PageIndex % 16 == 0)
            Print(u"=");
    }
    FlashWriteDisable();
    if (EcChannelDead())
        return;
    Print(u" -- Programing OK. \n\n");
}

void FlashProgramChunked(uint8_t block)
{
    Print(u"Programing...    : ");
    for (FlashState.PageIndex = 0; FlashState.PageIndex < PAGES_PER_BLOCK; ++FlashState.PageIndex) {
        const uint8_t* data = PageData(FlashState.PageIndex);
        for (FlashState.ChunkIndex = 0; FlashState.ChunkIndex < CHUNKS_PER_PAGE; ++FlashState.ChunkIndex) {
            FlashWriteEnable();  // waits for the previous chunk too
            SpiStartAt(PAGE_PROGRAM, block, static_cast<uint8_t>(FlashState.PageIndex),
                       static_cast<uint8_t>(FlashState.ChunkIndex * CHUNK_SIZE));
            const uint8_t* chunk = data + FlashState.ChunkIndex * CHUNK_SIZE;
            for (FlashState.ByteIndex = 0; FlashState.ByteIndex < CHUNK_SIZE; ++FlashState.ByteIndex)
                SpiWrite(chunk[FlashState.ByteIndex]);
        }
        FlashWaitReady();
        if (EcChannelDead())
            return;
        if (FlashState.PageIndex % 12 == 0)
            Print(u"=");
    }
    FlashWriteDisable();
    if (EcChannelDead())
        return;
    Print(u" -- Programing OK. \n\n");
}

}  // namespace zar
