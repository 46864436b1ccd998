// zar /update IMAGE [p] [ARG3] [/j]: the classic run with the same positions
// after the verb, except that a block already equal to the image is left
// alone. Closing rule and statuses are the classic run's.
#include "Applications/Main/BlockSequence.h"
#include "Applications/Main/Main.h"
#include "Applications/Main/VerbSteps.h"
#include "Applications/Main/Verbs.h"

namespace zar {

ExitStatus RunUpdate(const Arguments& args)
{
    if (!args.Has(ARG_IMAGE) || args.First(ARG_IMAGE) == '/')
        return RefuseCommandLine(u"zar /update IMAGE [p] [ARG3] [/j]");
    if (ExitStatus status = OpenAndPrepareImage(args); status != EXIT_OK)
        return status;
    return FlashImageBlocks(args, BlockMode::Update);
}

}  // namespace zar
