// zar.efi: the flasher on the machine's own EC ports.
#include "Applications/Main/Main.h"
#include "Applications/Main/UefiExitStatus.h"
#include "platform/uefi/UefiRuntime.h"

namespace {

EFI_STATUS Flasher(int argc, char* argv[])
{
    auto status = static_cast<zar::ExitStatus>(zar::main(argc, argv));
    zar::uefi::SetRunEnding(zar::LastRunEnding());
    return zar::UefiStatusOf(status, zar::LastRunOutOfMemory());
}

}  // namespace

extern "C" EFI_STATUS EFIAPI efi_main(EFI_HANDLE image, EFI_SYSTEM_TABLE* system)
{
    return zar::uefi::RunApplication(image, system, Flasher);
}
