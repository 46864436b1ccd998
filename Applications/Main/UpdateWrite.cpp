#include "Applications/Main/UpdateWrite.h"

#include "Applications/Main/FlashState.h"
#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashRead.h"
#include "flash/SpiOpcodes.h"
#include "platform/Platform.h"

namespace zar {
namespace {

// ---- Until the range operations of flash/ land: erase one unit, program a
// range. (Scaffolding: replaced by flash/'s own operations.)

void EraseUnit(uint8_t opcode, uint32_t address)
{
    FlashWriteEnable();
    SpiStartAt(opcode, static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
               static_cast<uint8_t>(address));
    EcSendCommand(FOLLOW_END);
    FlashWaitReady();
}

void ProgramPageRange(uint32_t address, const uint8_t* data, uint32_t count, uint32_t unit)
{
    for (uint32_t at = 0; at < count && !EcChannelDead(); at += unit) {
        FlashWriteEnable();
        uint32_t where = address + at;
        SpiStartAt(PAGE_PROGRAM, static_cast<uint8_t>(where >> 16), static_cast<uint8_t>(where >> 8),
                   static_cast<uint8_t>(where));
        uint32_t n = count - at < unit ? count - at : unit;
        for (uint32_t i = 0; i < n; ++i)
            SpiWrite(data[at + i]);
        FlashWaitReady();
    }
    FlashWriteDisable();
}

void ProgramAaiRange(uint32_t address, const uint8_t* data, uint32_t count, uint8_t opcode, uint32_t perCommand)
{
    FlashWriteEnable();
    SpiStartAt(opcode, static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
               static_cast<uint8_t>(address));
    for (uint32_t at = 0; at < count; at += perCommand) {
        for (uint32_t i = 0; i < perCommand; ++i)
            SpiWrite(data[at + i]);
        FlashWaitReady();
        if (EcChannelDead())
            return;
        if (at + perCommand < count)
            SpiStart(opcode);
    }
    FlashWriteDisable();
    FlashWaitReady();
}

void ProgramRange(uint32_t address, const uint8_t* data, uint32_t count)
{
    if (ManufacturerId() == MAKER_SST) {
        if (FlashState.SstIdByRes == 1)
            ProgramAaiRange(address, data, count, AAI_BYTE_PROGRAM, 1);
        else
            ProgramAaiRange(address, data, count + (count & 1), AAI_WORD_PROGRAM, 2);
    } else if (ManufacturerId() == MAKER_MXIC && FlashState.FlashId[2] == MXIC_CHUNKED_ID2) {
        ProgramPageRange(address, data, count, 32);
    } else {
        ProgramPageRange(address, data, count, PIECE_BYTES);
    }
}

// ---- The block

bool Written(const SectorPlan& sector)
{
    return sector.Action == SectorAction::Write || sector.Action == SectorAction::EraseWrite;
}

uint32_t SectorAddress(int32_t block, int32_t sector)
{
    return static_cast<uint32_t>(block * SECTORS_IN_BLOCK + sector) * SECTOR_BYTES;
}

const uint8_t* ImageAt(int32_t sector)
{
    uint32_t offset = static_cast<uint32_t>(sector) * SECTOR_BYTES;
    return offset < HALF_BLOCK_SIZE ? FlashState.LowHalf + offset : FlashState.HighHalf + offset - HALF_BLOCK_SIZE;
}

uint32_t ImageEnd()
{
    return static_cast<uint32_t>(FlashState.ImageSize);
}

bool Erase(int32_t block, const SectorPlan* row, bool eraseWhole)
{
    bool any = eraseWhole;
    for (int32_t i = 0; i < SECTORS_IN_BLOCK; ++i)
        any = any || row[i].Action == SectorAction::EraseWrite;
    if (!any)
        return true;
    Print(u"Eraseing...      : ");
    if (eraseWhole) {
        EraseUnit(BLOCK_ERASE, SectorAddress(block, 0));
        Print(u"=");
    }
    for (int32_t i = 0; i < SECTORS_IN_BLOCK && !eraseWhole && !EcChannelDead(); ++i) {
        if (row[i].Action != SectorAction::EraseWrite)
            continue;
        EraseUnit(SECTOR_ERASE, SectorAddress(block, i));
        Print(u"=");
    }
    if (EcChannelDead())
        return false;
    Print(u" -- Erase OK. \n\n");
    return true;
}

// Each run of pieces that are not all 0xFF, in one program each.
bool Program(int32_t block, const SectorPlan* row)
{
    Print(u"Programing...    : ");
    for (int32_t i = 0; i < SECTORS_IN_BLOCK && !EcChannelDead(); ++i) {
        if (!Written(row[i]))
            continue;
        for (int32_t piece = 0; piece < PIECES_IN_SECTOR;) {
            if ((row[i].Pieces & (1u << piece)) == 0) {
                ++piece;
                continue;
            }
            int32_t first = piece;
            while (piece < PIECES_IN_SECTOR && (row[i].Pieces & (1u << piece)))
                ++piece;
            uint32_t address = SectorAddress(block, i) + static_cast<uint32_t>(first) * PIECE_BYTES;
            uint32_t end = SectorAddress(block, i) + static_cast<uint32_t>(piece) * PIECE_BYTES;
            if (end > ImageEnd())
                end = ImageEnd();
            ProgramRange(address, ImageAt(i) + first * static_cast<int32_t>(PIECE_BYTES), end - address);
        }
        Print(u"=");
    }
    if (EcChannelDead())
        return false;
    Print(u" -- Programing OK. \n\n");
    return true;
}

// Every written sector read back, compared with the image and summed into
// Checksum. A sector that did not erase reads back as old AND new.
bool Verify(int32_t block, const SectorPlan* row)
{
    FlashWriteDisable();
    Print(u"Verify...        : ");
    int64_t firstDifference = -1;
    uint8_t chip[PIECE_BYTES];
    for (int32_t i = 0; i < SECTORS_IN_BLOCK; ++i) {
        if (!Written(row[i]))
            continue;
        uint32_t address = SectorAddress(block, i);
        uint32_t count = ImageEnd() - address < SECTOR_BYTES ? ImageEnd() - address : SECTOR_BYTES;
        const uint8_t* image = ImageAt(i);
        FlashReadStart(address);
        for (uint32_t at = 0; at < count; at += PIECE_BYTES) {
            uint32_t n = count - at < PIECE_BYTES ? count - at : PIECE_BYTES;
            if (!FlashReadBytes(chip, n))
                return false;
            for (uint32_t k = 0; k < n; ++k) {
                FlashState.Checksum += chip[k];
                if (chip[k] != image[at + k] && firstDifference < 0)
                    firstDifference = address + at + k;
            }
        }
        FlashReadEnd();
        if (EcChannelDead())
            return false;
        Print(u"=");
    }
    if (firstDifference >= 0) {
        Print(u" -- Verify Fail at %x. \n", static_cast<uint32_t>(firstDifference));
        return false;
    }
    Print(u" -- Verify OK. \n");
    return true;
}

}  // namespace

BlockWork WriteBlock(int32_t block, const SectorPlan* row, bool eraseWhole, UpdateTally* tally)
{
    int32_t written = 0;
    for (int32_t i = 0; i < SECTORS_IN_BLOCK; ++i)
        written += Written(row[i]) ? 1 : 0;
    if (written == 0)
        return BlockWork::None;
    Print(u"\nBlock Number     : %d \n\n", block);
    if (!Erase(block, row, eraseWhole) || !Program(block, row))
        return BlockWork::Failed;
    tally->SectorsWritten += written;
    return Verify(block, row) ? BlockWork::Verified : BlockWork::Failed;
}

}  // namespace zar
