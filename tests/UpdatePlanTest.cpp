// The update's plan from literal findings: which erases, which sectors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Applications/Main/UpdatePlan.h"

namespace zar::test {
namespace {

// One block's findings, a letter a sector: '=' equal, 'e' erased, 'd'
// differs, 'k' kept (and differs), '.' outside the image. Back: one letter a
// sector: '-' leave, 'K' keep, 'W' write, 'E' erase and write.
struct Case {
    const char* Name;
    std::string Found;
    EraseUnits Units;
    std::string Actions;
    bool BlockErase;
    int SectorErases;
};

std::string Plan(const std::string& found, EraseUnits units, bool* blockErase, PlanTotals* totals)
{
    std::vector<SectorPlan> row(SECTORS_IN_BLOCK);
    for (size_t i = 0; i < row.size(); ++i) {
        char c = found[i];
        row[i].Found = c == '=' ? SectorFound::Equal
                       : c == 'e' ? SectorFound::Erased
                       : c == '.' ? SectorFound::Outside
                                  : SectorFound::Differs;
        row[i].Kept = c == 'k';
        row[i].Pieces = 0xFFFF;
    }
    auto imageSize = static_cast<uint32_t>(found.find('.') == std::string::npos ? 0x10000 : found.find('.') * 0x1000);
    *totals = PlanUpdate(row.data(), 1, units, {imageSize, imageSize}, blockErase);
    std::string actions;
    for (const SectorPlan& sector : row)
        actions += "-KWE"[static_cast<int>(sector.Action)];
    return actions;
}

TEST(UpdatePlan, ErasesPerBlock)
{
    constexpr EraseUnits BOTH = {true, true}, SECTOR = {true, false}, BLOCK = {false, true};
    const Case cases[] = {
        {"one differs", "=d==============", BOTH, "-E--------------", false, 1},
        {"all differ", "dddddddddddddddd", BOTH, "WWWWWWWWWWWWWWWW", true, 0},
        {"all to write, some blank", "ddeedddddddddddd", BOTH, "WWWWWWWWWWWWWWWW", true, 0},
        {"all blank: no erase", "eeeeeeeeeeeeeeee", BOTH, "WWWWWWWWWWWWWWWW", false, 0},
        {"no block erase listed", "dddddddddddddddd", SECTOR, "EEEEEEEEEEEEEEEE", false, 16},
        {"one kept", "dddddddkdddddddd", BOTH, "EEEEEEEKEEEEEEEE", false, 15},
        {"image ends in the block", "ddddddddd.......", BOTH, "EEEEEEEEE-------", false, 9},
        // A part with only the 64 KiB erase writes its equal sectors back.
        {"block-only part", "=d=e============", BLOCK, "WWWWWWWWWWWWWWWW", true, 0},
        {"block-only, nothing to erase", "===e============", BLOCK, "---W------------", false, 0},
        {"neither listed: 4 KiB", "=d==============", {false, false}, "-E--------------", false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        bool blockErase = false;
        PlanTotals totals = {};
        EXPECT_EQ(Plan(c.Found, c.Units, &blockErase, &totals), c.Actions);
        EXPECT_EQ(blockErase, c.BlockErase);
        EXPECT_EQ(totals.BlockErases, c.BlockErase ? 1 : 0);
        EXPECT_EQ(totals.SectorErases, c.SectorErases);
        EXPECT_EQ(totals.KeepConflictBlock, -1);
    }
}

// A kept sector in a block that only a 64 KiB erase can clear: never erased
// (the run refuses such a plan), and nothing else in the block written, not
// even a blank sector: cut halfway, it would need that erase. A part that
// erases 4 KiB sectors writes around it.
TEST(UpdatePlan, AKeptSectorInABlockThatMustBeErasedWholeIsAConflict)
{
    constexpr EraseUnits BLOCK = {false, true};
    struct Conflict {
        const char* Found;
        EraseUnits Units;
        bool Refused;
    } cases[] = {
        {"=d=k============", BLOCK, true},
        {"===ke===========", BLOCK, true},
        {"===k============", BLOCK, false},
        {"=d=ke===========", {true, true}, false},
    };
    for (const Conflict& c : cases) {
        SCOPED_TRACE(c.Found);
        bool blockErase = true;
        PlanTotals totals = {};
        EXPECT_EQ(Plan(c.Found, c.Units, &blockErase, &totals)[3], 'K');
        EXPECT_FALSE(blockErase);
        EXPECT_EQ(totals.KeepConflictBlock, c.Refused ? 0 : -1);
    }
}

TEST(UpdatePlan, PiecesAndBytesToProgram)
{
    std::vector<uint8_t> sector(SECTOR_BYTES, 0xFF);
    EXPECT_EQ(PiecesToProgram(sector.data(), SECTOR_BYTES), 0);
    sector[0x100] = 0x00;
    sector[0xFFF] = 0xFE;
    EXPECT_EQ(PiecesToProgram(sector.data(), SECTOR_BYTES), (1u << 1) | (1u << 15));
    EXPECT_EQ(PiecesToProgram(sector.data(), 0xFFF), 1u << 1);  // the image ends before the last byte
    sector[0x1F0] = 0x00;  // late in piece 1; piece 2's only byte comes early
    sector[0x205] = 0x00;
    EXPECT_EQ(PiecesToProgram(sector.data(), SECTOR_BYTES), (1u << 1) | (1u << 2) | (1u << 15));

    // Bytes to program stop at the image's end: a whole piece, and 0x2A
    // bytes of the last one.
    std::vector<SectorPlan> row(SECTORS_IN_BLOCK, SectorPlan{SectorFound::Equal, false, 0, {}, 0});
    row[1] = {SectorFound::Erased, false, 1u << 3, {}, 0};
    row[15] = {SectorFound::Erased, false, 1u << 0, {}, 0};
    bool blockErase = false;
    PlanTotals totals = PlanUpdate(row.data(), 1, {true, true}, {0xF02A, 0xF02A}, &blockErase);
    EXPECT_EQ(totals.Sectors, 16);
    EXPECT_EQ(totals.ToWrite, 2);
    EXPECT_EQ(totals.Equal, 14);
    EXPECT_EQ(totals.ProgramBytes, 256u + 0x2A);
}

}  // namespace
}  // namespace zar::test
