// zar /update IMAGE [p] [ARG3] [/j]: the classic run with the same positions
// after the verb, except that a block already equal to the image is left
// alone. Closing rule and statuses are the classic run's.
#include "Applications/Main/BlockSequence.h"
#include "Applications/Main/FlashState.h"
#include "Applications/Main/Main.h"
#include "Applications/Main/VerbSteps.h"
#include "Applications/Main/Verbs.h"
#include "platform/Platform.h"

namespace zar {

int RunUpdate(const Arguments& args)
{
    if (!args.Has(ARG_IMAGE) || args.First(ARG_IMAGE) == '/')
        return RefuseCommandLine(u"zar /update IMAGE [p] [ARG3] [/j]");
    FlashState.ImageFile = FileOpen(args.At(ARG_IMAGE), "rb");
    if (FlashState.ImageFile == nullptr) {
        Print(u"\nFILE NAME ERROR!!\n");
        return EXIT_BAD_IMAGE;
    }
    if (int status = PrepareImage(args); status != EXIT_OK)
        return status;
    return FlashImageBlocks(args, BlockMode::Update);
}

}  // namespace zar
