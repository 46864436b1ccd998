// What the flasher makes of a chip's identification bytes.
#include <gtest/gtest.h>

#include <string>

#include "flash/PartTable.h"

namespace zar::test {
namespace {

ChipIdentity Identify(std::initializer_list<uint8_t> bytes, bool byRes = false)
{
    uint8_t id[4] = {0, 0, 0, 0};
    int i = 0;
    for (uint8_t b : bytes)
        id[i++] = b;
    return IdentifyPart(id, byRes);
}

std::string NameOf(const ChipIdentity& identity)
{
    return identity.Part ? identity.Part->Name : "";
}

TEST(PartTable, NoChipAnswering)
{
    EXPECT_FALSE(Identify({0xFF, 0xFF, 0xFF, 0xFF}).Answered);
    EXPECT_FALSE(Identify({0xFF, 0xFF, 0xFF, 0xFF}, true).Answered);
    EXPECT_FALSE(Identify({0x00, 0x00, 0x00, 0x00}, true).Answered) << "RDID and RES both 00";
    EXPECT_TRUE(Identify({0xFF, 0xFF, 0xFF, 0x00}).Answered);
}

TEST(PartTable, KnownPartsByRdidAndByRes)
{
    ChipIdentity w = Identify({0xEF, 0x40, 0x18, 0x00});
    EXPECT_EQ(NameOf(w), "W25Q128FV");
    EXPECT_EQ(w.Size, 16u << 20);
    EXPECT_STREQ(w.Maker, "Winbond");

    // SST parts without RDID answer RES with maker and device repeating.
    ChipIdentity sst = Identify({0xBF, 0x48, 0xBF, 0x48}, true);
    EXPECT_EQ(NameOf(sst), "SST25VF512");
    EXPECT_EQ(sst.Size, 64u << 10);
    EXPECT_STREQ(sst.Maker, "SST");
    EXPECT_EQ(Identify({0xBF, 0x48, 0xBF, 0x48}).Part, nullptr) << "an RDID answer is not a RES answer";

    // Outside the vendor table: no maker, but the table knows the part.
    ChipIdentity issi = Identify({0x9D, 0x60, 0x15, 0x00});
    EXPECT_EQ(NameOf(issi), "IS25LP016");
    EXPECT_EQ(issi.Size, 2u << 20);
    EXPECT_EQ(issi.Maker, nullptr);
}

TEST(PartTable, PartsSharingAnIdGiveTheFirstAndNameTheRest)
{
    ChipIdentity pmc = Identify({0x7F, 0x9D, 0x7E, 0x00});
    ASSERT_EQ(NameOf(pmc), "PM25LD040");
    const FlashPart* other = NextPartWithSameId(*pmc.Part);
    ASSERT_NE(other, nullptr);
    EXPECT_STREQ(other->Name, "PM25LV040");
    EXPECT_EQ(other->Size, pmc.Part->Size);
    EXPECT_EQ(NextPartWithSameId(*other), nullptr);
    EXPECT_EQ(NextPartWithSameId(*Identify({0xEF, 0x30, 0x13}).Part), nullptr);
}

// A part not in the table: 2^n bytes for a maker of the vendor table and a
// capacity byte n of 0x10 to 0x18; no size otherwise.
TEST(PartTable, SizeOfPartsNotInTheTable)
{
    struct Case {
        uint8_t Maker, Type, Capacity;
        uint32_t Size;
    };
    for (Case c : {Case{0xEF, 0x70, 0x10, 64u << 10}, Case{0xEF, 0x70, 0x18, 16u << 20},
                   Case{0xEF, 0x70, 0x0F, 0}, Case{0xEF, 0x70, 0x19, 0}, Case{0xC2, 0x25, 0x17, 8u << 20},
                   Case{0x9D, 0x60, 0x16, 0}, Case{0x1F, 0x45, 0x01, 0}}) {
        ChipIdentity identity = Identify({c.Maker, c.Type, c.Capacity, 0x00});
        SCOPED_TRACE(testing::Message() << std::hex << int(c.Maker) << " " << int(c.Type) << " " << int(c.Capacity));
        EXPECT_TRUE(identity.Answered);
        EXPECT_EQ(identity.Part, nullptr);
        EXPECT_EQ(identity.Size, c.Size);
    }
    // On the RES road the bytes say nothing of the size.
    EXPECT_EQ(Identify({0xBF, 0x17, 0xBF, 0x17}, true).Size, 0u);
}

// Checked against what the makers publish, not against the table itself:
// the simulated chips take their size from the same rows, so a wrong size
// would pass every whole run. Where the maker codes the capacity in the third
// RDID byte, the part holds 2^that bytes. The others are given here as their
// documents state them (SST DS25045A, S71242, DS25076A, DS25044A; Atmel
// 3668F; Spansion S25FL004A rev. B; for SST25VF040B/032B and the PMC parts
// the chip database named in sim/ChipCatalog.cpp): size, page (0: no page
// program), then the 0x20 and 0xD8 erase units (0: not supported).
TEST(PartTable, SizesAndUnitsAgreeWithTheMakersDocuments)
{
    struct Documented {
        std::string Name;
        uint32_t Size, Page, Sector, Block;
    };
    const Documented documented[] = {
        {"SST25VF080B", 1024 * 1024, 0, 4096, 65536}, {"SST25LF040A", 512 * 1024, 0, 4096, 0},
        {"SST25VF512", 64 * 1024, 0, 4096, 0},         {"SST25VF040B", 512 * 1024, 0, 4096, 65536},
        {"SST25VF016B", 2048 * 1024, 0, 4096, 65536},  {"SST25VF032B", 4096 * 1024, 0, 4096, 65536},
        {"AT25DF041A", 512 * 1024, 256, 4096, 65536},  {"S25FL004A", 512 * 1024, 256, 0, 65536},
        {"PM25LD040", 512 * 1024, 256, 4096, 65536},   {"PM25LV040", 512 * 1024, 256, 0, 65536},
        {"PM25LD020", 256 * 1024, 256, 4096, 65536},
    };
    size_t found = 0;
    for (int i = 0; i < FlashPartCount(); ++i) {
        const FlashPart& part = FlashPartAt(i);
        SCOPED_TRACE(part.Name);
        const Documented* doc = nullptr;
        for (const Documented& d : documented)
            doc = d.Name == part.Name ? &d : doc;
        if (doc == nullptr) {
            ASSERT_TRUE(part.AnswersRdid);
            EXPECT_EQ(part.Size, 1u << part.Rdid[2]);
            continue;
        }
        ++found;
        EXPECT_EQ(part.Size, doc->Size);
        EXPECT_EQ(part.PageSize, doc->Page);
        EXPECT_EQ(part.SectorEraseUnit, doc->Sector);
        EXPECT_EQ(part.BlockEraseUnit, doc->Block);
    }
    EXPECT_EQ(found, std::size(documented));
}

}  // namespace
}  // namespace zar::test
