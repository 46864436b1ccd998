#include "Applications/Main/ModuleCheck.h"

#include "Applications/Main/Banner.h"
#include "Applications/Main/HandBack.h"
#include "Applications/Main/RunState.h"
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
    RunState.Checksum = MODULE_CHECK_MISMATCH;
    PrintBanner();
    Print(u"\n\rModule is: ");
    PrintModuleName(RunState.EcModuleName);
    Print(u"\n\rBIN File is: ");
    PrintModuleName(RunState.FileModuleName);
    Print(u"\n\rZARMOK [filename] p");
    Print(u"\n\r        Didn't Check EC FILE & Module mach");  // spelled so on purpose (flash/FlashText.h)
    Print(u"\n\r checksum %x", RunState.Checksum);
}

}  // namespace

bool ReadEcModuleName()
{
    MarkPlace(RunStage::ModuleCheck);
    for (size_t i = 0; i < MODULE_NAME_LENGTH; ++i) {
        RunState.EcModuleName[i] = EcReadMemory(EC_MODULE_NAME_HIGH, static_cast<uint8_t>(EC_MODULE_NAME_LOW + i));
        if (EcChannelDead())
            return false;
    }
    RunState.EcModuleNameRead = true;
    return true;
}

ModuleCheckResult CheckModuleIdentity(const Arguments& args, int32_t imageSize)
{
    char skip = args.First(ARG_SKIP_CHECK);
    if (skip == 'p' || skip == 'P') {
        Print(u"\n\rTEST_A \n");
        return ModuleCheckResult::Passed;
    }

    // An image shorter than 0x70 bytes leaves the rest of the name zero
    // (the record was cleared at start), never stale memory.
    int32_t inImage = imageSize - MODULE_NAME_OFFSET;
    inImage = inImage < 0 ? 0 : inImage > int32_t{MODULE_NAME_LENGTH} ? int32_t{MODULE_NAME_LENGTH} : inImage;
    if (inImage > 0)
        MemCopy(RunState.FileModuleName, RunState.Image + MODULE_NAME_OFFSET, static_cast<size_t>(inImage));

    if (!ReadEcModuleName())
        return ModuleCheckResult::NoAnswer;

    // A position is compared before it is tested for the ending space, so the
    // space must stand at the same place in both names.
    for (size_t i = 0; i < MODULE_NAME_LENGTH; ++i) {
        if (RunState.FileModuleName[i] != RunState.EcModuleName[i]) {
            ReportMismatch();
            return ModuleCheckResult::Mismatch;
        }
        RunState.Checksum = 0;
        if (RunState.FileModuleName[i] == ' ') {
            RunState.Checksum = MODULE_CHECK_MATCH;
            break;
        }
    }
    NoteEcRanItsFirmware();  // a name from its memory: the EC runs its firmware, so its flash holds one whole
    return ModuleCheckResult::Passed;
}

}  // namespace zar
