#include "Applications/Main/ChipGuards.h"

#include "Applications/Main/HandBack.h"
#include "Applications/Main/RunState.h"
#include "flash/FlashPrimitives.h"
#include "flash/PartTable.h"
#include "platform/Platform.h"

namespace zar {

void SayNoFlashChip()
{
    Print(u"\n\rNO FLASH CHIP!! Nothing answers on the EC's SPI bus. Nothing was erased or written.\n");
}

ExitStatus GuardChip(int32_t imageSize, uint8_t closing, const Arguments& args, Road road)
{
    const ChipIdentity& chip = RunState.Chip.Known;
    if (!chip.Answered) {
        FlashReportIdentity(RunState.Chip);
        SayNoFlashChip();
        return HandBackAndEnd(closing, EXIT_NO_ANSWER, &args, road);
    }
    if (chip.Size != 0 && imageSize > 0 && static_cast<uint32_t>(imageSize) > chip.Size) {
        FlashReportIdentity(RunState.Chip);
        Print(u"\n\rIMAGE TOO LARGE!! The image has %d bytes, the %a chip holds %d. Nothing was erased or "
              u"written.\n",
              imageSize, chip.Part ? chip.Part->Name : "flash", chip.Size);
        RunState.RerunChange.OtherImage = true;
        return HandBackAndEnd(closing, EXIT_BAD_IMAGE, &args, road);
    }
    return EXIT_OK;
}

}  // namespace zar
