// zar-sim.efi: the flasher against the simulated EC and chip, with the same
// options as zar-sim on Linux.
#include "Applications/Main/Main.h"
#include "Applications/Main/UefiExitStatus.h"
#include "platform/uefi/UefiRuntime.h"
#include "tools/zar-sim/SimFrontEnd.h"

namespace {

EFI_STATUS Simulator(int argc, char* argv[])
{
    auto status = static_cast<zar::ExitStatus>(zar::sim::SimMain(argc, argv));
    zar::uefi::SetRunEnding(zar::LastRunEnding());  // the simulated EC's run, the real machine's end
    return zar::UefiStatusOf(status, status == zar::EXIT_BAD_IMAGE && zar::LastRunOutOfMemory());
}

}  // namespace

extern "C" EFI_STATUS EFIAPI efi_main(EFI_HANDLE image, EFI_SYSTEM_TABLE* system)
{
    return zar::uefi::RunApplication(image, system, Simulator);
}
