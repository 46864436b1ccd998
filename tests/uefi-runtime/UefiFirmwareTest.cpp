// The firmware around a run, on a fake firmware: the TPL around a span of
// port traffic, and the Shell's Ctrl-C.
#include <gtest/gtest.h>

#include <vector>

#include "FakeFirmware.h"
#include "platform/Platform.h"
#include "platform/uefi/UefiRuntime.h"

namespace zar::test {
namespace {

using uefi::gFirmware;

EFI_STATUS LeaveTheTplRaised(int, char*[])
{
    uefi::RaiseToNotify();
    uefi::RaiseToNotify();
    return TakeBreakRequest() && !TakeBreakRequest() ? EFI_SUCCESS : EFI_NOT_READY;
}

// One raise to TPL_NOTIFY however often asked, given back to the level it
// came from when the program returns. Ctrl-C is the Shell's ExecutionBreak,
// taken (cleared) when seen; a Shell without the event has no Ctrl-C.
TEST(Firmware, TheTplRisesOnceAndComesBackAndCtrlCIsTheShellsBreak)
{
    for (bool withBreak : {true, false}) {
        SCOPED_TRACE(withBreak);
        FakeFirmware::Options options;
        options.ExecutionBreak = withBreak;
        FakeFirmware firmware(options);
        firmware.breakSignalled = true;
        EFI_STATUS status = uefi::RunApplication(firmware.Image(), firmware.System(), LeaveTheTplRaised);
        EXPECT_EQ(status, withBreak ? EFI_SUCCESS : EFI_NOT_READY);
        EXPECT_EQ(firmware.tplCalls, (std::vector<EFI_TPL>{TPL_NOTIFY, TPL_APPLICATION}));
        EXPECT_EQ(firmware.breakChecks, withBreak ? 2 : 0);
    }
    gFirmware = uefi::Firmware{};
}

}  // namespace
}  // namespace zar::test
