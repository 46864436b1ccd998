// The catalog checked for form and against the flasher: a part marked as
// fitting must take every command of the flasher's path for its maker.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "Harness.h"
#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/PartTable.h"
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
    uint8_t maker = c.Part->AnswersRdid ? c.Part->Rdid[0] : c.Part->ResId[0];
    bool sst = maker == MAKER_SST;
    if (maker == 0 || (c.WrsrNeedsEwsr && !sst))
        return false;
    if (maker == MAKER_ST ? c.Part->BlockEraseUnit != 64 * 1024 : c.Part->SectorEraseUnit != 4 * 1024)
        return false;
    if (sst)
        return c.Method == (c.Part->AnswersRdid ? ProgramMethod::AaiWord : ProgramMethod::AaiByte);
    return c.Method == ProgramMethod::Page && c.Part->PageSize == 256;
}

TEST(Catalog, EntriesAreWellFormedAndFitWhereTheySayTheyDo)
{
    std::set<std::string> names;
    for (int i = 0; i < sim::ChipCount(); ++i) {
        const ChipInfo& c = sim::ChipAt(i);
        SCOPED_TRACE(c.Part->Name);
        std::string lower = c.Part->Name;
        for (char& ch : lower)
            ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
        EXPECT_NE(lower, c.Part->Name) << "upper case";
        EXPECT_TRUE(names.insert(lower).second) << "duplicate";
        EXPECT_EQ(sim::FindChip(lower.c_str()), &c);

        EXPECT_TRUE(PowerOfTwo(c.Part->Size) && c.Part->Size >= 64 * 1024 && c.Part->Size <= 16 * 1024 * 1024);
        for (uint32_t unit : {c.Part->SectorEraseUnit, c.Part->BlockEraseUnit})
            EXPECT_TRUE(unit == 0 || (PowerOfTwo(unit) && unit <= c.Part->Size));
        EXPECT_EQ(c.Method == ProgramMethod::Page, PowerOfTwo(c.Part->PageSize) && c.Part->PageSize <= 256);
        EXPECT_TRUE(c.SectorEraseTypUs <= c.SectorEraseMaxUs && c.BlockEraseTypUs <= c.BlockEraseMaxUs &&
                    c.ProgramTypUs <= c.ProgramMaxUs && c.StatusWriteTypUs <= c.StatusWriteMaxUs);
        // The flash wait bound counts on a poll of 1.25 us at the fastest and
        // a margin of three over the slowest operation.
        for (uint32_t maxUs : {c.SectorEraseMaxUs, c.BlockEraseMaxUs, c.ProgramMaxUs, c.StatusWriteMaxUs})
            EXPECT_LE(uint64_t{maxUs} * 1000 / 1250 * 3, DEFAULT_WAIT_LIMITS.FlashPolls);
        EXPECT_EQ(c.Part->SectorEraseUnit != 0, c.SectorEraseTypUs != 0);
        EXPECT_EQ(c.Part->BlockEraseUnit != 0, c.BlockEraseTypUs != 0);
        EXPECT_TRUE(c.ProtectBits != 0 && (c.ProtectBits & (SR_WIP | SR_WEL)) == 0);

        EXPECT_EQ(c.FitsAlgorithms, FlasherPathWorks(c));
        EXPECT_TRUE(c.FitsAlgorithms || std::string(c.Note).size() > 10) << "say why it does not fit";

        // Where each value comes from: a value is the part's own, borrowed
        // from a sister part's sheet or unverified, and only values the part
        // has are marked. Without the maker's sheet, nothing but the chip
        // database's structure is known.
        EXPECT_GT(std::string(c.Sources).size(), 20u);
        uint32_t missing = 0;  // times of erase units the part does not have
        if (c.Part->SectorEraseUnit == 0)
            missing |= sim::field::SECTOR_ERASE_TYP | sim::field::SECTOR_ERASE_MAX;
        if (c.Part->BlockEraseUnit == 0)
            missing |= sim::field::BLOCK_ERASE_TYP | sim::field::BLOCK_ERASE_MAX;
        EXPECT_EQ(c.Unverified & c.Borrowed, 0u);
        EXPECT_EQ((c.Unverified | c.Borrowed) & ~((1u << sim::field::COUNT) - 1), 0u);
        EXPECT_EQ((c.Unverified | c.Borrowed) & missing, 0u);
        if (std::string(c.Sources).find("sheet reached") != std::string::npos) {
            uint32_t unknown = (sim::field::TIMES & ~missing) | sim::field::RES | sim::field::POWER_UP;
            EXPECT_EQ(c.Unverified & unknown, unknown);
        }
    }
    EXPECT_EQ(sim::FindChip("W25X"), nullptr);
    EXPECT_EQ(sim::FindChip(""), nullptr);
}

// The catalog's rows are the flasher's: each part is in the part table, and
// the flasher identifies it as itself or, where parts share an ID, as the
// first of them, which has the same size and page.
TEST(Catalog, EveryPartIsOneTheFlasherIdentifies)
{
    std::set<const FlashPart*> table;
    for (int i = 0; i < FlashPartCount(); ++i)
        table.insert(&FlashPartAt(i));
    EXPECT_EQ(table.size(), static_cast<size_t>(sim::ChipCount())) << "a table row without a simulated part";
    for (int i = 0; i < sim::ChipCount(); ++i) {
        const FlashPart& part = *sim::ChipAt(i).Part;
        SCOPED_TRACE(part.Name);
        EXPECT_TRUE(table.count(&part));
        uint8_t id[4] = {0};
        for (int k = 0; k < 4; ++k)
            id[k] = part.AnswersRdid ? (k < 3 ? part.Rdid[k] : 0) : part.ResId[k & 1];
        ChipIdentity identity = IdentifyPart(id, !part.AnswersRdid);
        ASSERT_NE(identity.Part, nullptr);
        EXPECT_EQ(identity.Size, part.Size);
        EXPECT_EQ(identity.Part->PageSize, part.PageSize);
        bool listed = identity.Part == &part;
        for (const FlashPart* same = identity.Part; (same = NextPartWithSameId(*same)) != nullptr;)
            listed = listed || same == &part;
        EXPECT_TRUE(listed) << "not among the parts the flasher names for its ID";
    }
}

TEST(Catalog, HoldsEveryKindOfPartTheRunsNeed)
{
    auto has = [](auto predicate) { return FindPart(predicate) != nullptr; };
    for (int maker : {0xBF, 0xEF, 0x20, 0x01, 0xC2, 0x37, 0x1C, 0x8C, 0x7F}) {
        EXPECT_TRUE(has([&](const ChipInfo& c) {
            return c.FitsAlgorithms && (c.Part->AnswersRdid ? c.Part->Rdid[0] : c.Part->ResId[0]) == maker;
        })) << "no writable part for maker " << maker;
    }
    EXPECT_TRUE(has([](const ChipInfo& c) { return c.Part->Rdid[0] == 0x1F && c.FitsAlgorithms; }));
    EXPECT_TRUE(
        has([](const ChipInfo& c) { return c.Part->Rdid[0] == MAKER_SST && c.Method == ProgramMethod::AaiWord; }));
    EXPECT_TRUE(has([](const ChipInfo& c) { return !c.Part->AnswersRdid && c.Method == ProgramMethod::AaiByte; }));
    EXPECT_TRUE(has([](const ChipInfo& c) {
        return c.Part->Rdid[0] == MAKER_MXIC && c.Part->Rdid[2] == MXIC_CHUNKED_ID2;
    }));
    EXPECT_TRUE(has([](const ChipInfo& c) { return c.Part->Rdid[0] == MAKER_ST && c.Part->SectorEraseUnit == 0; }));
    EXPECT_TRUE(has([](const ChipInfo& c) {
        for (const VendorRow& row : VendorTable)
            if (row.Id == c.Part->Rdid[0])
                return false;
        return c.FitsAlgorithms;
    }));
    // Writable parts of every density from 64 KiB to 16 MiB.
    for (uint32_t size = 64 * 1024; size <= 16 * 1024 * 1024; size *= 2)
        EXPECT_TRUE(has([&](const ChipInfo& c) { return c.FitsAlgorithms && c.Part->Size == size; })) << size;
    const ChipInfo& d = sim::DefaultChip();
    EXPECT_TRUE(d.FitsAlgorithms && d.Method == ProgramMethod::Page && d.Part->Rdid[0] != MAKER_ST &&
                d.Part->Rdid[0] != MAKER_MXIC);
}

}  // namespace
}  // namespace zar::test
