#include "Applications/Main/VerbSteps.h"

#include "Applications/Main/BlockSequence.h"
#include "Applications/Main/ChipGuards.h"
#include "Applications/Main/LeadingWords.h"
#include "Applications/Main/Main.h"
#include "Applications/Main/Progress.h"
#include "Applications/Main/RunRecord.h"
#include "Applications/Main/RunState.h"
#include "Applications/Main/UserBreak.h"
#include "Applications/Main/Verbs.h"
#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/FlashRead.h"
#include "platform/Platform.h"
#include "platform/Text.h"
#include "platform/Uninterrupted.h"

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
    if (word != nullptr && word[0] == '/' && !IsVerb(word) && !IsLeadingWord(word))
        Print(u"  (%a begins with \"/\", which marks a switch: give the path without it, as fs0:\\dir\\file or"
              u" dir/file)\n",
              word);
    return nullptr;
}

ExitStatus RefuseCommandLine(const char16_t* usage)
{
    Print(u"\nCOMMAND LINE ERROR!! Usage: %s\n", usage);
    return EXIT_BAD_IMAGE;
}

uint8_t ClosingAfterEntry(uint8_t ack, uint8_t closing)
{
    if (ack == EC_FOLLOW_ACK)
        NoteEcRanItsFirmware();
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

namespace {

// Where a pass stands: its bytes, and what the second pass found.
struct Pass {
    RunStage Stage;
    uint8_t* Into;
    const uint8_t* Against;
    int32_t Differing;
    uint32_t FirstDifference;
};

// One step of a pass, [start, end), in a FAST_READ of its own: no
// transaction is held longer than a block's transfer, and the progress line
// moves between them (platform/Uninterrupted.h). False when the channel
// died (its place then says where: the byte being read).
bool ReadPassStep(Pass* pass, uint32_t start, uint32_t end)
{
    Uninterrupted held;
    MarkPlace(pass->Stage, start);
    FlashReadStart(start);
    for (uint32_t at = start; at < end; ++at) {
        uint8_t value = 0;
        MarkPlace(pass->Stage, at);
        if (!FlashReadBytes(&value, 1))
            return false;
        if (pass->Into)
            pass->Into[at] = value;
        else if (value != pass->Against[at] && pass->Differing++ == 0)
            pass->FirstDifference = at;
    }
    MarkPlace(pass->Stage, end);
    FlashReadEnd();
    return !EcChannelDead();
}

}  // namespace

int32_t ReadChipPass(const char16_t* label, RunStage stage, uint8_t* into, const uint8_t* against, uint32_t size,
                     uint32_t* firstDifference)
{
    constexpr uint32_t SMALLEST_STEP = 256;
    Pass pass = {stage, into, against, 0, 0};
    Progress progress;
    ProgressBegin(&progress, label, size);
    uint32_t step = ProgressStep(size, SMALLEST_STEP);
    for (uint32_t start = 0; start < size; start += step) {
        uint32_t end = size - start > step ? start + step : size;
        bool alive = ReadPassStep(&pass, start, end);
        if (!alive) {
            ProgressEnd(&progress);
            return -1;
        }
        ProgressAdd(&progress, end - start);
        IgnoreBreak();
    }
    ProgressEnd(&progress);
    *firstDifference = pass.FirstDifference;
    return pass.Differing;
}

bool FileExists(const char* name)
{
    PlatformFile* file = FileOpen(name, "rb");
    if (file == nullptr)
        return false;
    FileClose(file);
    return true;
}

bool ClaimNewFile(NewFile* file, const char* name, const char16_t* verb)
{
    *file = {name, nullptr, false};
    if (FileExists(name)) {
        Print(u"\nFILE EXISTS!! %a is kept: %s never replaces a file. Give a new name.\n", name, verb);
        return false;
    }
    file->File = FileOpen(name, "xb");
    if (file->File == nullptr) {
        Print(u"\nFILE WRITE ERROR!! %a can't be created: something other than a file has that name, or its folder "
              u"can't take it. Give a new name.\n",
              name);
        return false;
    }
    return true;
}

bool WriteNewFile(NewFile* file, const uint8_t* data, uint32_t size, bool* deleted)
{
    bool written = FileWrite(data, 1, size, file->File) == size;
    written = FileClose(file->File) == 0 && written;
    file->File = nullptr;
    file->Kept = written;
    *deleted = !written && DiscardNewFile(file);
    return written;
}

bool DiscardNewFile(NewFile* file)
{
    if (file->File)
        FileClose(file->File);
    file->File = nullptr;
    return file->Kept || file->Name == nullptr || FileRemove(file->Name) == 0;
}

}  // namespace zar
