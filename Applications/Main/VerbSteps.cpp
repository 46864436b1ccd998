#include "Applications/Main/VerbSteps.h"

#include "Applications/Main/BlockSequence.h"
#include "Applications/Main/ChipGuards.h"
#include "Applications/Main/Main.h"
#include "Applications/Main/RunRecord.h"
#include "Applications/Main/RunState.h"
#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "platform/Platform.h"
#include "platform/Text.h"

namespace zar {

bool EndsWithAltExit(const Arguments& args)
{
    return args.Count() >= 2 && TextEqual(args.At(args.Count() - 1), "/j");
}

int WordsBeforeAltExit(const Arguments& args)
{
    return args.Count() - (EndsWithAltExit(args) ? 1 : 0);
}

uint8_t ReadOnlyClosingCommand(const Arguments& args)
{
    return EndsWithAltExit(args) ? EC_CMD_FOLLOW_EXIT_ALT : EC_CMD_FOLLOW_EXIT;
}

const char* FileNameWord(const Arguments& args, int index, const char16_t* message)
{
    const char* word = args.At(index);
    if (word != nullptr && word[0] != 0 && word[0] != '/')
        return word;
    Print(u"%s", message);
    return nullptr;
}

ExitStatus RefuseCommandLine(const char16_t* usage)
{
    Print(u"\nCOMMAND LINE ERROR!! Usage: %s\n", usage);
    return EXIT_BAD_IMAGE;
}

uint8_t ClosingAfterEntry(uint8_t ack, uint8_t closing)
{
    if (ack == EC_FOLLOW_ACK || EcChannelDead())
        return closing;
    Print(u"\n\rThe EC did not acknowledge follow-mode entry: it may still be in follow mode from a run that was"
          u" cut short. It is left as it was found; flash the image again before switching off.\n");
    return 0;
}

bool EnterFollowModeAndIdentify(uint8_t* closing)
{
    *closing = ClosingAfterEntry(EcEnterFollowMode(), *closing);
    if (!EcChannelDead())
        RunState.Chip = FlashIdentify();
    return !EcChannelDead();
}

bool FileExists(const char* name)
{
    PlatformFile* file = FileOpen(name, "rb");
    if (file == nullptr)
        return false;
    FileClose(file);
    return true;
}

}  // namespace zar
