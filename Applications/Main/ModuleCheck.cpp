#include "Applications/Main/ModuleCheck.h"

#include "Applications/Main/Banner.h"
#include "Applications/Main/FlashState.h"
#include "ec/EcChannel.h"
#include "platform/Platform.h"

namespace zar {
namespace {

// A name's meaningful part ends at its first space, which is printed too.
void PrintModuleName(const uint8_t* name)
{
    for (size_t i = 0; i < MODULE_NAME_LENGTH; ++i) {
        Print(u"%c", name[i]);
        if (name[i] == ' ')
            break;
    }
}

void ReportMismatch()
{
    FlashState.Checksum = MODULE_CHECK_MISMATCH;
    PrintBanner();
    Print(u"\n\rModule is: ");
    PrintModuleName(FlashState.EcModuleName);
    Print(u"\n\rBIN File is: ");
    PrintModuleName(FlashState.FileModuleName);
    Print(u"\n\rZARMOK [filename] p");
    Print(u"\n\r        Didn't Check EC FILE & Module mach");
    Print(u"\n\r checksum %x", FlashState.Checksum);
}

void CloseImage()
{
    FileClose(FlashState.ImageFile);
    FlashState.ImageFile = nullptr;
}

}  // namespace

bool ReadEcModuleName()
{
    for (size_t i = 0; i < MODULE_NAME_LENGTH; ++i) {
        FlashState.EcModuleName[i] = EcReadMemory(EC_MODULE_NAME_HIGH, static_cast<uint8_t>(EC_MODULE_NAME_LOW + i));
        if (EcChannelDead())
            return false;
    }
    return true;
}

ModuleCheckResult CheckModuleIdentity(const Arguments& args)
{
    char skip = args.First(ARG_SKIP_CHECK);
    if (skip == 'p' || skip == 'P') {
        Print(u"\n\rTEST_A \n");
        CloseImage();
        return ModuleCheckResult::Passed;
    }

    // An image shorter than 0x70 bytes leaves the rest of the name zero
    // (the record was cleared at start), never stale memory.
    FileSeek(FlashState.ImageFile, MODULE_NAME_OFFSET, FILE_SEEK_SET);
    FileRead(FlashState.FileModuleName, 1, MODULE_NAME_LENGTH, FlashState.ImageFile);
    CloseImage();

    if (!ReadEcModuleName())
        return ModuleCheckResult::NoAnswer;

    // A position is compared before it is tested for the ending space, so the
    // space must stand at the same place in both names.
    for (size_t i = 0; i < MODULE_NAME_LENGTH; ++i) {
        if (FlashState.FileModuleName[i] != FlashState.EcModuleName[i]) {
            ReportMismatch();
            return ModuleCheckResult::Mismatch;
        }
        FlashState.Checksum = 0;
        if (FlashState.FileModuleName[i] == ' ') {
            FlashState.Checksum = MODULE_CHECK_MATCH;
            break;
        }
    }
    return ModuleCheckResult::Passed;
}

}  // namespace zar
