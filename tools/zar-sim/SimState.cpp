#include "tools/zar-sim/SimState.h"

#include "platform/Platform.h"

namespace zar::sim {
namespace {

// The file: this header, then the chip's contents, Size bytes. Numbers are
// little-endian.
constexpr char MAGIC[8] = {'Z', 'A', 'R', 'S', 'I', 'M', 'S', '1'};
constexpr size_t NAME_BYTES = 16;

struct Header {
    char Magic[8];
    char Part[NAME_BYTES];  // the part's name, NUL-padded
    uint8_t Size[4];
    uint8_t EcMode;
    uint8_t EcExpect;
    uint8_t EcAddressHigh;
    uint8_t EcAnswerPending;
    uint8_t EcAnswer;
    uint8_t ChipStatus;
    uint8_t ChipAai;
    uint8_t ChipAaiAddress[4];
};

void PutLe(uint8_t (&out)[4], uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetLe(const uint8_t (&in)[4])
{
    return uint32_t{in[0]} | uint32_t{in[1]} << 8 | uint32_t{in[2]} << 16 | uint32_t{in[3]} << 24;
}

void NameOf(const ChipInfo& chip, char (&out)[NAME_BYTES])
{
    MemSet(out, 0, NAME_BYTES);
    const char* name = chip.Part->Name;
    for (size_t i = 0; i + 1 < NAME_BYTES && name[i]; ++i)
        out[i] = name[i];
}

bool SameBytes(const char* a, const char* b, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (a[i] != b[i])
            return false;
    }
    return true;
}

StateRead Refuse(const char* path, const char* why)
{
    Print(u"zar-sim: --state %a %a\n", path, why);
    return StateRead::Refused;
}

}  // namespace

StateRead ReadState(const char* path, const ChipInfo& chip, uint8_t* contents, SimMachine::Kept* kept)
{
    PlatformFile* file = FileOpen(path, "rb");
    if (file == nullptr)
        return StateRead::Missing;
    Header header = {};
    uint32_t size = chip.Part->Size;
    bool whole = FileRead(&header, sizeof header, 1, file) == 1;
    char name[NAME_BYTES];
    NameOf(chip, name);
    bool same = whole && SameBytes(header.Magic, MAGIC, sizeof MAGIC) && GetLe(header.Size) == size &&
                SameBytes(header.Part, name, NAME_BYTES);
    whole = same && FileRead(contents, 1, size, file) == size;
    FileClose(file);
    if (!same)
        return Refuse(path, "is no state of this part: give the --chip (and --chip-size) it was made with, or a new file");
    if (!whole)
        return Refuse(path, "ends before the chip's contents do");
    *kept = {{header.EcMode, header.EcExpect, header.EcAddressHigh, header.EcAnswerPending != 0, header.EcAnswer},
             {header.ChipStatus, header.ChipAai != 0, GetLe(header.ChipAaiAddress)}};
    return StateRead::Read;
}

bool WriteState(const char* path, SimMachine& machine)
{
    SimMachine::Kept kept = machine.Keep();
    SpiNorChip& chip = machine.Chip();
    Header header = {};
    MemCopy(header.Magic, MAGIC, sizeof MAGIC);
    NameOf(chip.Info(), header.Part);
    PutLe(header.Size, chip.Size());
    header.EcMode = kept.Ec.Mode;
    header.EcExpect = kept.Ec.Expect;
    header.EcAddressHigh = kept.Ec.AddressHigh;
    header.EcAnswerPending = kept.Ec.AnswerPending ? 1 : 0;
    header.EcAnswer = kept.Ec.Answer;
    header.ChipStatus = kept.Chip.Status;
    header.ChipAai = kept.Chip.Aai ? 1 : 0;
    PutLe(header.ChipAaiAddress, kept.Chip.AaiAddress);
    PlatformFile* file = FileOpen(path, "wb");
    if (file == nullptr)
        return false;
    bool written = FileWrite(&header, sizeof header, 1, file) == 1 &&
                   FileWrite(chip.Contents(), 1, chip.Size(), file) == chip.Size();
    return FileClose(file) == 0 && written;
}

}  // namespace zar::sim
