// The catalog checked for form and against the flasher: a part marked as
// fitting must take every command of the flasher's path for its maker.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "Harness.h"
#include "flash/FlashPrimitives.h"
#include "flash/SpiOpcodes.h"

namespace zar::test {
namespace {

using sim::ChipInfo;
using sim::ProgramMethod;

bool PowerOfTwo(uint32_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

// Unprotect, 4 KiB erase steps (0xD8 for ST), then AAI for SST (byte-wise
// when found through RES) or 256-byte page programs for everyone else.
bool FlasherPathWorks(const ChipInfo& c)
{
    uint8_t maker = c.AnswersRdid ? c.Rdid[0] : c.ResId[0];
    bool sst = maker == MAKER_SST;
    if (maker == 0 || (c.WrsrNeedsEwsr && !sst))
        return false;
    if (maker == MAKER_ST ? c.BlockEraseUnit != 64 * 1024 : c.SectorEraseUnit != 4 * 1024)
        return false;
    if (sst)
        return c.Method == (c.AnswersRdid ? ProgramMethod::AaiWord : ProgramMethod::AaiByte);
    return c.Method == ProgramMethod::Page && c.PageSize == 256;
}

TEST(Catalog, EntriesAreWellFormedAndFitWhereTheySayTheyDo)
{
    std::set<std::string> names;
    for (int i = 0; i < sim::ChipCount(); ++i) {
        const ChipInfo& c = sim::ChipAt(i);
        SCOPED_TRACE(c.Name);
        std::string lower = c.Name;
        for (char& ch : lower)
            ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
        EXPECT_NE(lower, c.Name) << "upper case";
        EXPECT_TRUE(names.insert(lower).second) << "duplicate";
        EXPECT_EQ(sim::FindChip(lower.c_str()), &c);

        EXPECT_TRUE(PowerOfTwo(c.Size) && c.Size >= 64 * 1024 && c.Size <= 16 * 1024 * 1024);
        for (uint32_t unit : {c.SectorEraseUnit, c.BlockEraseUnit})
            EXPECT_TRUE(unit == 0 || (PowerOfTwo(unit) && unit <= c.Size));
        EXPECT_EQ(c.Method == ProgramMethod::Page, PowerOfTwo(c.PageSize) && c.PageSize <= 256);
        EXPECT_TRUE(c.SectorEraseTypUs <= c.SectorEraseMaxUs && c.BlockEraseTypUs <= c.BlockEraseMaxUs &&
                    c.ProgramTypUs <= c.ProgramMaxUs && c.StatusWriteTypUs <= c.StatusWriteMaxUs);
        EXPECT_EQ(c.SectorEraseUnit != 0, c.SectorEraseTypUs != 0);
        EXPECT_EQ(c.BlockEraseUnit != 0, c.BlockEraseTypUs != 0);
        EXPECT_TRUE(c.ProtectBits != 0 && (c.ProtectBits & (SR_WIP | SR_WEL)) == 0);

        EXPECT_EQ(c.FitsAlgorithms, FlasherPathWorks(c));
        EXPECT_TRUE(c.FitsAlgorithms || std::string(c.Note).size() > 10) << "say why it does not fit";
    }
    EXPECT_EQ(sim::FindChip("W25X"), nullptr);
    EXPECT_EQ(sim::FindChip(""), nullptr);
}

TEST(Catalog, HoldsEveryKindOfPartTheRunsNeed)
{
    auto has = [](auto predicate) { return FindPart(predicate) != nullptr; };
    for (int maker : {0xBF, 0xEF, 0x20, 0x01, 0xC2, 0x37, 0x1C, 0x8C, 0x7F}) {
        EXPECT_TRUE(has([&](const ChipInfo& c) {
            return c.FitsAlgorithms && (c.AnswersRdid ? c.Rdid[0] : c.ResId[0]) == maker;
        })) << "no writable part for maker " << maker;
    }
    EXPECT_TRUE(has([](const ChipInfo& c) { return c.Rdid[0] == 0x1F && c.FitsAlgorithms; }));
    EXPECT_TRUE(has([](const ChipInfo& c) { return c.Rdid[0] == MAKER_SST && c.Method == ProgramMethod::AaiWord; }));
    EXPECT_TRUE(has([](const ChipInfo& c) { return !c.AnswersRdid && c.Method == ProgramMethod::AaiByte; }));
    EXPECT_TRUE(has([](const ChipInfo& c) { return c.Rdid[0] == MAKER_MXIC && c.Rdid[2] == MXIC_CHUNKED_ID2; }));
    EXPECT_TRUE(has([](const ChipInfo& c) { return c.Rdid[0] == MAKER_ST && c.SectorEraseUnit == 0; }));
    EXPECT_TRUE(has([](const ChipInfo& c) {
        for (const VendorRow& row : VendorTable)
            if (row.Id == c.Rdid[0])
                return false;
        return c.FitsAlgorithms;
    }));
    const ChipInfo& d = sim::DefaultChip();
    EXPECT_TRUE(d.FitsAlgorithms && d.Method == ProgramMethod::Page && d.Rdid[0] != MAKER_ST && d.Rdid[0] != MAKER_MXIC);
}

}  // namespace
}  // namespace zar::test
