// The firmware around a run, on a fake firmware: the TPL around a span of
// port traffic, the watchdog, and the Shell's Ctrl-C.
#include <gtest/gtest.h>

#include <vector>

#include "FakeFirmware.h"
#include "platform/Platform.h"
#include "platform/uefi/UefiRuntime.h"

namespace zar::test {
namespace {

using uefi::gFirmware;

void Use(FakeFirmware& firmware, bool shell)
{
    EFI_SYSTEM_TABLE* system = firmware.System();
    void* protocol = nullptr;
    gFirmware = uefi::Firmware{firmware.Image(), system, system->BootServices, nullptr, nullptr};
    EFI_GUID guid = EFI_SHELL_PROTOCOL_GUID;
    if (shell && !EFI_ERROR(system->BootServices->LocateProtocol(&guid, nullptr, &protocol)))
        gFirmware.Shell = static_cast<EFI_SHELL_PROTOCOL*>(protocol);
}

EFI_STATUS LeaveTheTplRaised(int, char*[])
{
    uefi::RaiseToNotify();
    return EFI_SUCCESS;
}

// One raise to TPL_NOTIFY however often asked, and one restore, to the
// level it was raised from; an application that returns raised is put back.
TEST(Firmware, TheTplRisesToNotifyOnceAndGoesBackWhereItWas)
{
    FakeFirmware firmware;
    Use(firmware, true);
    firmware.tpl = TPL_CALLBACK;
    uefi::RestoreApplicationTpl();
    uefi::RaiseToNotify();
    uefi::RaiseToNotify();
    EXPECT_EQ(firmware.tpl, static_cast<EFI_TPL>(TPL_NOTIFY));
    uefi::RestoreApplicationTpl();
    uefi::RestoreApplicationTpl();
    EXPECT_EQ(firmware.tplCalls, (std::vector<EFI_TPL>{TPL_NOTIFY, TPL_CALLBACK}));

    firmware.tpl = TPL_APPLICATION;
    firmware.tplCalls.clear();
    EXPECT_EQ(uefi::RunShellApplication(firmware.Image(), firmware.System(), LeaveTheTplRaised), EFI_SUCCESS);
    EXPECT_EQ(firmware.tplCalls, (std::vector<EFI_TPL>{TPL_NOTIFY, TPL_APPLICATION}));
    gFirmware = uefi::Firmware{};
}

// The watchdog goes off with timeout 0, code 0 and no data. Ctrl-C is the
// Shell's ExecutionBreak, taken (cleared) when seen; without a Shell, or a
// Shell without the event, there is none and nothing is asked.
TEST(Firmware, TheWatchdogGoesOffAndCtrlCIsTheShellsBreakTakenOnce)
{
    FakeFirmware firmware;
    Use(firmware, true);
    DisableWatchdog();
    EXPECT_EQ(firmware.watchdogTimeouts, std::vector<UINTN>{0});

    EXPECT_FALSE(TakeBreakRequest());
    firmware.breakSignalled = true;
    EXPECT_TRUE(TakeBreakRequest());
    EXPECT_FALSE(TakeBreakRequest());
    EXPECT_EQ(firmware.breakChecks, 3);

    for (bool shell : {false, true}) {
        FakeFirmware::Options options;
        options.Shell = shell;
        options.ExecutionBreak = false;
        FakeFirmware other(options);
        Use(other, shell);
        other.breakSignalled = true;
        EXPECT_FALSE(TakeBreakRequest());
        EXPECT_EQ(other.breakChecks, 0);
    }
    gFirmware = uefi::Firmware{};
}

}  // namespace
}  // namespace zar::test
