#include "Applications/Main/ChipGuards.h"

#include "Applications/Main/Main.h"
#include "Applications/Main/RunRecord.h"
#include "Applications/Main/RunState.h"
#include "flash/FlashPrimitives.h"
#include "flash/PartTable.h"
#include "platform/Platform.h"

namespace zar {
namespace {

int Refuse(int status, uint8_t closing)
{
    HandBackEc(closing, status);
    if (closing == 0)
        SayEcStaysInFollowMode();
    return status;
}

}  // namespace

void SayNoFlashChip()
{
    Print(u"\n\rNO FLASH CHIP!! Nothing answers on the EC's SPI bus. Nothing was erased or written.\n");
}

void SayEcStaysInFollowMode()
{
    Print(u"\n\rNo closing command sent: the EC stays in follow mode and can be flashed again.\n");
}

int GuardChip(int32_t imageSize, uint8_t closing)
{
    const ChipIdentity& chip = RunState.Chip.Known;
    if (!chip.Answered) {
        FlashReportIdentity(RunState.Chip);
        SayNoFlashChip();
        return Refuse(EXIT_NO_ANSWER, closing);
    }
    if (chip.Size != 0 && imageSize > 0 && static_cast<uint32_t>(imageSize) > chip.Size) {
        FlashReportIdentity(RunState.Chip);
        Print(u"\n\rIMAGE TOO LARGE!! The image has %d bytes, the %a chip holds %d. Nothing was erased or "
              u"written.\n",
              imageSize, chip.Part ? chip.Part->Name : "flash", chip.Size);
        return Refuse(EXIT_BAD_IMAGE, closing);
    }
    return EXIT_OK;
}

}  // namespace zar
