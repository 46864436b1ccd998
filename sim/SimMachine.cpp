#include "sim/SimMachine.h"

#include "ec/ModuleName.h"
#include "platform/Platform.h"

namespace zar::sim {

const ChipInfo& SimMachine::ChooseChip(const MachineSetup& setup)
{
    const ChipInfo& info = setup.Chip ? *setup.Chip : DefaultChip();
    if (setup.ChipSize == 0 || setup.ChipSize == info.Part->Size)
        return info;
    resizedPart_ = *info.Part;
    resizedPart_.Size = setup.ChipSize;
    // A part of another size says so in its RDID capacity byte (2^N bytes),
    // as the flasher sizes unknown parts by it.
    if (resizedPart_.AnswersRdid) {
        uint8_t capacity = 0;
        while ((1u << capacity) < setup.ChipSize)
            ++capacity;
        resizedPart_.Rdid[2] = capacity;
    }
    resizedChip_ = info;
    resizedChip_.Part = &resizedPart_;
    return resizedChip_;
}

void SimMachine::PowerUp(const MachineSetup& setup, uint8_t* contents)
{
    const ChipInfo& info = ChooseChip(setup);
    ec_.Init(setup.Ec);
    chip_.Init(info, setup.ChipSetup, contents, &ec_.Clock());
    ec_.AttachChip(setup.ChipAbsent ? nullptr : &chip_);
}

void SimMachine::SetModuleName(const uint8_t* name, size_t count)
{
    uint8_t* memory = ec_.Memory() + EC_MODULE_NAME_ADDRESS;
    if (count > MODULE_NAME_LENGTH)
        count = MODULE_NAME_LENGTH;
    MemSet(memory, 0, MODULE_NAME_LENGTH);
    MemCopy(memory, name, count);
}

void SimMachine::NextRun()
{
    ec_.NextRun();
    chip_.NextRun();
    ec_.AttachChip(&chip_);
}

SimMachine::Kept SimMachine::Keep()
{
    ec_.Settle();
    return {ec_.Keep(), chip_.Keep()};
}

bool SimMachine::Resume(const Kept& kept)
{
    chip_.Resume(kept.Chip);
    return ec_.Resume(kept.Ec);
}

void FillPattern(uint8_t* contents, uint32_t size)
{
    for (uint32_t i = 0; i < size; ++i) {
        auto value = static_cast<uint8_t>((i >> 8) * 31 + i * 7 + 0x11);
        contents[i] = value == 0xFF ? 0xCC : value;
    }
}

}  // namespace zar::sim
