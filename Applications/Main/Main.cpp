// The flasher's entry: start-up, the command line, and the one way out of
// every run.
#include "Applications/Main/Main.h"

#include "Applications/Main/Arguments.h"
#include "Applications/Main/Banner.h"
#include "Applications/Main/BlockSequence.h"
#include "Applications/Main/FlashState.h"
#include "Applications/Main/ImageBlocks.h"
#include "Applications/Main/ModuleCheck.h"
#include "ec/EcChannel.h"
#include "platform/Platform.h"

namespace zar {

FlashStateRecord FlashState;

namespace {

void ShowUsage()
{
    ClearScreen();
    PrintBanner();
    Print(u"\n\rFlash FW Cammand :");
    Print(u"\n\rZARMOK [filename]");
}

// A name that begins with "/" is a switch, not an image; a name that did not
// open gets one more try. Either way the run ends here.
int FileNameRoad(const char* name)
{
    FlashState.ImageFile = FileOpen(name, "rb");
    if (FlashState.ImageFile == nullptr) {
        Print(u"\nFILE NAME ERROR!!\n");
        return EXIT_BAD_IMAGE;
    }
    return EXIT_OK;
}

int Run(const Arguments& args)
{
    // 1. Ports, then the console.
    FlashState.BlockCounter = 0;
    FlashState.Checksum = 0;
    FlashState.DataPort = EC_DATA_PORT;
    FlashState.CommandPort = EC_COMMAND_PORT;
    FlashState.StatusPort = EC_STATUS_PORT;
    SetAttribute(CONSOLE_LIGHTGRAY_ON_BLACK);

    // 2. No image named: the usage screen.
    if (args.Count() <= 1) {
        ShowUsage();
        return EXIT_OK;
    }

    // 3. The image, measured before the EC is touched.
    const char* name = args.At(ARG_IMAGE);
    if (name == nullptr || name[0] == '/')
        return FileNameRoad(name);
    FlashState.ImageFile = FileOpen(name, "rb");
    if (FlashState.ImageFile == nullptr)
        return FileNameRoad(name);
    if (CheckImageSize(MeasureImage(FlashState.ImageFile)) != ImageProblem::None)
        return EXIT_BAD_IMAGE;

    // 4. Is the image for this EC?
    switch (CheckModuleIdentity(args)) {
    case ModuleCheckResult::Mismatch:
        return EXIT_MODULE_MISMATCH;
    case ModuleCheckResult::NoAnswer:
        ReportWaitFault();
        return EXIT_NO_ANSWER;
    case ModuleCheckResult::Passed:
        break;
    }

    // 5. Flash it.
    if (SetUpImage(name) != ImageProblem::None)
        return EXIT_BAD_IMAGE;
    return FlashImageBlocks(args);
}

}  // namespace

int main(int argc, char* argv[])
{
    MemSet(&FlashState, 0, sizeof FlashState);
    int status = Run(Arguments(argc, argv));

    // Whatever the way out, nothing is left held.
    ReleaseBlockBuffers();
    if (FlashState.ImageFile) {
        FileClose(FlashState.ImageFile);
        FlashState.ImageFile = nullptr;
    }
    return status;
}

bool LastRunOutOfMemory()
{
    return FlashState.OutOfMemory;
}

}  // namespace zar
