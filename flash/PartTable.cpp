#include "flash/PartTable.h"

namespace zar {
namespace {

// Filled from the makers' datasheets; see each row.
constexpr FlashPart PARTS[] = {
    {"W25X40", {0xEF, 0x30, 0x13}, true, {0x12, 0x12}, 512 * 1024, 256, 4 * 1024, 64 * 1024},
};

struct MakerName {
    uint8_t Id;
    const char* Name;
};

// The makers of the vendor table, by the names its lines print.
constexpr MakerName MAKERS[] = {
    {0xBF, "SST"},      {0xEF, "Winbond"}, {0x9F, "Atmel"}, {0x20, "ST"},   {0x01, "Spansion"},
    {0xC2, "MXIC"},     {0x37, "AMIC"},    {0x1C, "EON"},   {0x8C, "ESMT"}, {0x7F, "PMC"},
};

bool AllBytes(const uint8_t id[4], uint8_t value)
{
    return id[0] == value && id[1] == value && id[2] == value && id[3] == value;
}

}  // namespace

int FlashPartCount()
{
    return static_cast<int>(sizeof PARTS / sizeof PARTS[0]);
}

const FlashPart& FlashPartAt(int index)
{
    return PARTS[index];
}

ChipIdentity IdentifyPart(const uint8_t id[4], bool byRes)
{
    ChipIdentity identity = {true, nullptr, 0, nullptr};
    if (AllBytes(id, 0xFF) || (byRes && AllBytes(id, 0x00))) {
        identity.Answered = false;
        return identity;
    }
    for (const MakerName& maker : MAKERS) {
        if (maker.Id == id[0])
            identity.Maker = maker.Name;
    }
    for (const FlashPart& part : PARTS) {
        bool match = byRes ? !part.AnswersRdid && part.ResId[0] == id[0] && part.ResId[1] == id[1]
                           : part.AnswersRdid && part.Rdid[0] == id[0] && part.Rdid[1] == id[1] &&
                                 part.Rdid[2] == id[2];
        if (match) {
            identity.Part = &part;
            identity.Size = part.Size;
            return identity;
        }
    }
    if (!byRes && identity.Maker && id[2] >= 0x10 && id[2] <= 0x18)
        identity.Size = 1u << id[2];
    return identity;
}

}  // namespace zar
