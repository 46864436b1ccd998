#include "flash/PartTable.h"

#include "flash/FlashPrimitives.h"

namespace zar {

// One row per part, grouped by maker. The documents behind each row, and the
// values none of them confirmed (mostly RES answers), are given with the
// part's entry in the simulator's catalog, sim/ChipCatalog.cpp. A RES answer
// matters to the flasher only on parts that don't answer RDID.
namespace parts {

constexpr uint32_t KiB = 1024;
constexpr uint32_t MiB = 1024 * KiB;

const FlashPart W25X40 = {"W25X40", {0xEF, 0x30, 0x13}, true, {0x12, 0x12}, 512 * KiB, 256, 4 * KiB, 64 * KiB};
const FlashPart W25Q80BV = {"W25Q80BV", {0xEF, 0x40, 0x14}, true, {0x13, 0x13}, 1 * MiB, 256, 4 * KiB, 64 * KiB};
const FlashPart W25X20 = {"W25X20", {0xEF, 0x30, 0x12}, true, {0x11, 0x11}, 256 * KiB, 256, 4 * KiB, 64 * KiB};
const FlashPart W25Q16DV = {"W25Q16DV", {0xEF, 0x40, 0x15}, true, {0x14, 0x14}, 2 * MiB, 256, 4 * KiB, 64 * KiB};
const FlashPart W25Q32FV = {"W25Q32FV", {0xEF, 0x40, 0x16}, true, {0x15, 0x15}, 4 * MiB, 256, 4 * KiB, 64 * KiB};
const FlashPart W25Q64FV = {"W25Q64FV", {0xEF, 0x40, 0x17}, true, {0x16, 0x16}, 8 * MiB, 256, 4 * KiB, 64 * KiB};
const FlashPart W25Q128FV = {"W25Q128FV", {0xEF, 0x40, 0x18}, true, {0x17, 0x17}, 16 * MiB, 256, 4 * KiB, 64 * KiB};
const FlashPart SST25VF080B = {"SST25VF080B", {0xBF, 0x25, 0x8E}, true, {0xBF, 0x8E}, 1 * MiB, 0, 4 * KiB, 64 * KiB};
const FlashPart SST25LF040A = {"SST25LF040A", {0x00, 0x00, 0x00}, false, {0xBF, 0x44}, 512 * KiB, 0, 4 * KiB, 0};
const FlashPart SST25VF512 = {"SST25VF512", {0x00, 0x00, 0x00}, false, {0xBF, 0x48}, 64 * KiB, 0, 4 * KiB, 0};
const FlashPart SST25VF040B = {"SST25VF040B", {0xBF, 0x25, 0x8D}, true, {0xBF, 0x8D}, 512 * KiB, 0, 4 * KiB, 64 * KiB};
const FlashPart SST25VF016B = {"SST25VF016B", {0xBF, 0x25, 0x41}, true, {0xBF, 0x41}, 2 * MiB, 0, 4 * KiB, 64 * KiB};
const FlashPart SST25VF032B = {"SST25VF032B", {0xBF, 0x25, 0x4A}, true, {0xBF, 0x4A}, 4 * MiB, 0, 4 * KiB, 64 * KiB};
const FlashPart AT25DF041A = {"AT25DF041A", {0x1F, 0x44, 0x01}, true, {0x00, 0x00}, 512 * KiB, 256, 4 * KiB, 64 * KiB};
const FlashPart M25P40 = {"M25P40", {0x20, 0x20, 0x13}, true, {0x12, 0x12}, 512 * KiB, 256, 0, 64 * KiB};
const FlashPart S25FL204K = {"S25FL204K", {0x01, 0x40, 0x13}, true, {0x12, 0x12}, 512 * KiB, 256, 4 * KiB, 64 * KiB};
const FlashPart S25FL004A = {"S25FL004A", {0x01, 0x02, 0x12}, true, {0x12, 0x12}, 512 * KiB, 256, 0, 64 * KiB};
const FlashPart S25FL116K = {"S25FL116K", {0x01, 0x40, 0x15}, true, {0x14, 0x14}, 2 * MiB, 256, 4 * KiB, 64 * KiB};
const FlashPart MX25L4005A = {"MX25L4005A", {0xC2, 0x20, 0x13}, true, {0x12, 0x12}, 512 * KiB, 256, 4 * KiB, 64 * KiB};
const FlashPart MX25L512 = {"MX25L512", {0xC2, 0x20, 0x10}, true, {0x05, 0x05}, 64 * KiB, 256, 4 * KiB, 64 * KiB};
const FlashPart MX25L2005C = {"MX25L2005C", {0xC2, 0x20, 0x12}, true, {0x11, 0x11}, 256 * KiB, 256, 4 * KiB, 64 * KiB};
const FlashPart MX25L8005 = {"MX25L8005", {0xC2, 0x20, 0x14}, true, {0x13, 0x13}, 1 * MiB, 256, 4 * KiB, 64 * KiB};
const FlashPart MX25L1606E = {"MX25L1606E", {0xC2, 0x20, 0x15}, true, {0x14, 0x14}, 2 * MiB, 256, 4 * KiB, 64 * KiB};
const FlashPart MX25L12835F = {"MX25L12835F", {0xC2, 0x20, 0x18}, true, {0x17, 0x17}, 16 * MiB, 256, 4 * KiB, 64 * KiB};
const FlashPart A25L010A = {"A25L010A", {0x37, 0x30, 0x11}, true, {0x10, 0x10}, 128 * KiB, 256, 4 * KiB, 64 * KiB};
const FlashPart EN25F40A = {"EN25F40A", {0x1C, 0x31, 0x13}, true, {0x12, 0x12}, 512 * KiB, 256, 4 * KiB, 64 * KiB};
const FlashPart EN25Q16 = {"EN25Q16", {0x1C, 0x30, 0x15}, true, {0x14, 0x14}, 2 * MiB, 256, 4 * KiB, 64 * KiB};
const FlashPart F25L32PA = {"F25L32PA", {0x8C, 0x20, 0x16}, true, {0x15, 0x15}, 4 * MiB, 256, 4 * KiB, 64 * KiB};
const FlashPart F25L008A = {"F25L008A", {0x8C, 0x20, 0x14}, true, {0x8C, 0x14}, 1 * MiB, 0, 4 * KiB, 64 * KiB};
const FlashPart PM25LD040 = {"PM25LD040", {0x7F, 0x9D, 0x7E}, true, {0x9D, 0x7E}, 512 * KiB, 256, 4 * KiB, 64 * KiB};
const FlashPart PM25LV040 = {"PM25LV040", {0x7F, 0x9D, 0x7E}, true, {0x9D, 0x7E}, 512 * KiB, 256, 0, 64 * KiB};
const FlashPart PM25LD020 = {"PM25LD020", {0x7F, 0x9D, 0x22}, true, {0x9D, 0x22}, 256 * KiB, 256, 4 * KiB, 64 * KiB};
const FlashPart GD25Q40 = {"GD25Q40", {0xC8, 0x40, 0x13}, true, {0x12, 0x12}, 512 * KiB, 256, 4 * KiB, 64 * KiB};
const FlashPart GD25Q32B = {"GD25Q32B", {0xC8, 0x40, 0x16}, true, {0x15, 0x15}, 4 * MiB, 256, 4 * KiB, 64 * KiB};
const FlashPart IS25LP016 = {"IS25LP016", {0x9D, 0x60, 0x15}, true, {0x14, 0x14}, 2 * MiB, 256, 4 * KiB, 64 * KiB};

}  // namespace parts

namespace {

// Where rows share an ID, IdentifyPart gives the first: the newer part goes
// first, and such rows must agree on size and page size.
constexpr const FlashPart* PARTS[] = {
    &parts::W25X40, &parts::W25Q80BV, &parts::W25X20, &parts::W25Q16DV, &parts::W25Q32FV, &parts::W25Q64FV,
    &parts::W25Q128FV, &parts::SST25VF080B, &parts::SST25LF040A, &parts::SST25VF512, &parts::SST25VF040B,
    &parts::SST25VF016B, &parts::SST25VF032B, &parts::AT25DF041A, &parts::M25P40, &parts::S25FL204K, &parts::S25FL004A,
    &parts::S25FL116K, &parts::MX25L4005A, &parts::MX25L512, &parts::MX25L2005C, &parts::MX25L8005, &parts::MX25L1606E,
    &parts::MX25L12835F, &parts::A25L010A, &parts::EN25F40A, &parts::EN25Q16, &parts::F25L32PA, &parts::F25L008A,
    &parts::PM25LD040, &parts::PM25LV040, &parts::PM25LD020, &parts::GD25Q40, &parts::GD25Q32B, &parts::IS25LP016,
};

constexpr int COUNT = static_cast<int>(sizeof PARTS / sizeof PARTS[0]);

bool AllBytes(const uint8_t id[4], uint8_t value)
{
    return id[0] == value && id[1] == value && id[2] == value && id[3] == value;
}

bool SameId(const FlashPart& a, const FlashPart& b)
{
    if (a.AnswersRdid != b.AnswersRdid)
        return false;
    if (a.AnswersRdid)
        return a.Rdid[0] == b.Rdid[0] && a.Rdid[1] == b.Rdid[1] && a.Rdid[2] == b.Rdid[2];
    return a.ResId[0] == b.ResId[0] && a.ResId[1] == b.ResId[1];
}

}  // namespace

int FlashPartCount()
{
    return COUNT;
}

const FlashPart& FlashPartAt(int index)
{
    // Out of range gives the first row rather than memory past the table.
    return *PARTS[index >= 0 && index < COUNT ? index : 0];
}

const FlashPart* NextPartWithSameId(const FlashPart& part)
{
    int i = 0;
    while (i < COUNT && PARTS[i] != &part)
        ++i;
    for (++i; i < COUNT; ++i) {
        if (SameId(*PARTS[i], part))
            return PARTS[i];
    }
    return nullptr;
}

ChipIdentity IdentifyPart(const uint8_t id[4], bool byRes)
{
    ChipIdentity identity = {true, nullptr, 0, nullptr};
    if (AllBytes(id, 0xFF) || (byRes && AllBytes(id, 0x00))) {
        identity.Answered = false;
        return identity;
    }
    for (const VendorRow& maker : VendorTable) {
        if (maker.Id == id[0])
            identity.Maker = maker.Name;
    }
    for (const FlashPart* part : PARTS) {
        bool match = byRes ? !part->AnswersRdid && part->ResId[0] == id[0] && part->ResId[1] == id[1]
                           : part->AnswersRdid && part->Rdid[0] == id[0] && part->Rdid[1] == id[1] &&
                                 part->Rdid[2] == id[2];
        if (match) {
            identity.Part = part;
            identity.Size = part->Size;
            return identity;
        }
    }
    if (!byRes && identity.Maker && id[2] >= 0x10 && id[2] <= 0x18)
        identity.Size = 1u << id[2];
    return identity;
}

}  // namespace zar
