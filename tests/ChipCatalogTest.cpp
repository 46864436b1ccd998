// The catalog against itself and against what the flasher sends: a part
// marked as fitting must accept every command of the flasher's path for it.
#include <gtest/gtest.h>

#include <ctype.h>

#include <set>
#include <string>

#include "Harness.h"
#include "flash/FlashPrimitives.h"
#include "flash/SpiOpcodes.h"
#include "sim/ChipCatalog.h"

namespace zar::test {
namespace {

using sim::ChipInfo;
using sim::ProgramMethod;

bool PowerOfTwo(uint32_t v)
{
    return v != 0 && (v & (v - 1)) == 0;
}

TEST(Catalog, EntriesAreWellFormed)
{
    std::set<std::string> names;
    for (int i = 0; i < sim::ChipCount(); ++i) {
        const ChipInfo& c = sim::ChipAt(i);
        SCOPED_TRACE(c.Name);
        std::string name = c.Name;
        for (char ch : name)
            EXPECT_FALSE(islower(static_cast<unsigned char>(ch)));
        EXPECT_TRUE(names.insert(name).second) << "duplicate";
        EXPECT_GT(std::string(c.Datasheet).size(), 5u);

        EXPECT_TRUE(PowerOfTwo(c.Size));
        EXPECT_GE(c.Size, 64u * 1024);
        EXPECT_LE(c.Size, 16u * 1024 * 1024);
        for (uint32_t unit : {c.SectorEraseUnit, c.BlockEraseUnit})
            EXPECT_TRUE(unit == 0 || (PowerOfTwo(unit) && unit <= c.Size));
        EXPECT_EQ(c.Method == ProgramMethod::Page, c.PageSize != 0);
        EXPECT_TRUE(c.PageSize == 0 || (PowerOfTwo(c.PageSize) && c.PageSize <= 256));

        EXPECT_LE(c.SectorEraseTypUs, c.SectorEraseMaxUs);
        EXPECT_LE(c.BlockEraseTypUs, c.BlockEraseMaxUs);
        EXPECT_LE(c.ProgramTypUs, c.ProgramMaxUs);
        EXPECT_LE(c.StatusWriteTypUs, c.StatusWriteMaxUs);
        EXPECT_EQ(c.SectorEraseUnit != 0, c.SectorEraseTypUs != 0);
        EXPECT_EQ(c.BlockEraseUnit != 0, c.BlockEraseTypUs != 0);
        EXPECT_GT(c.ProgramTypUs, 0u);

        EXPECT_NE(c.ProtectBits, 0);
        EXPECT_EQ(c.ProtectBits & (SR_WIP | SR_WEL), 0);
        EXPECT_TRUE(c.AnswersRdid || c.ResId[0] != 0) << "nothing identifies it";
        if (!c.FitsAlgorithms) {
            EXPECT_GT(std::string(c.Note).size(), 10u) << "say why it does not fit";
        }
    }
}

TEST(Catalog, LookupIgnoresCase)
{
    for (int i = 0; i < sim::ChipCount(); ++i) {
        std::string name = sim::ChipAt(i).Name;
        for (char& ch : name)
            ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
        EXPECT_EQ(sim::FindChip(name.c_str()), &sim::ChipAt(i));
    }
    std::string prefix = std::string(sim::DefaultChip().Name).substr(0, 3);
    EXPECT_EQ(sim::FindChip(prefix.c_str()), nullptr);
    EXPECT_EQ(sim::FindChip((std::string(sim::DefaultChip().Name) + "X").c_str()), nullptr);
    EXPECT_EQ(sim::FindChip(""), nullptr);
}

// What the flasher's path for this part needs, from its identity alone.
bool FlasherPathWorks(const ChipInfo& c)
{
    uint8_t maker = c.AnswersRdid ? c.Rdid[0] : c.ResId[0];
    if (maker == 0x00)
        return false;
    bool sst = maker == MAKER_SST;
    if (c.WrsrNeedsEwsr && !sst)
        return false;  // EWSR is sent to SST parts only
    if (maker == MAKER_ST ? c.BlockEraseUnit != 64 * 1024 : c.SectorEraseUnit != 4 * 1024)
        return false;
    if (sst)
        return c.Method == (c.AnswersRdid ? ProgramMethod::AaiWord : ProgramMethod::AaiByte);
    return c.Method == ProgramMethod::Page && c.PageSize == 256;
}

TEST(Catalog, FitsAlgorithmsAgreesWithTheFlashersPath)
{
    for (int i = 0; i < sim::ChipCount(); ++i) {
        const ChipInfo& c = sim::ChipAt(i);
        EXPECT_EQ(c.FitsAlgorithms, FlasherPathWorks(c)) << c.Name;
    }
}

TEST(Catalog, HoldsEveryKindOfPartTheRunsNeed)
{
    auto has = [](auto predicate) { return FindPart(predicate) != nullptr; };
    for (int maker : {0xBF, 0xEF, 0x20, 0x01, 0xC2, 0x37, 0x1C, 0x8C, 0x7F}) {
        EXPECT_TRUE(has([&](const ChipInfo& c) { return c.FitsAlgorithms && c.AnswersRdid && c.Rdid[0] == maker; }) ||
                    has([&](const ChipInfo& c) { return c.FitsAlgorithms && c.ResId[0] == maker; }))
            << "no writable part for maker " << maker;
    }
    EXPECT_TRUE(has([](const ChipInfo& c) { return c.Rdid[0] == 0x1F && c.FitsAlgorithms; }));
    EXPECT_TRUE(has([](const ChipInfo& c) { return c.Rdid[0] == MAKER_SST && c.Method == ProgramMethod::AaiWord; }));
    EXPECT_TRUE(has([](const ChipInfo& c) {
        return !c.AnswersRdid && c.ResId[0] == MAKER_SST && c.Method == ProgramMethod::AaiByte && c.FitsAlgorithms;
    }));
    EXPECT_TRUE(has([](const ChipInfo& c) { return c.Rdid[0] == MAKER_MXIC && c.Rdid[2] == MXIC_CHUNKED_ID2; }));
    EXPECT_TRUE(has([](const ChipInfo& c) {
        return c.Rdid[0] == MAKER_ST && c.SectorEraseUnit == 0 && c.BlockEraseUnit == 64 * 1024;
    }));
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
