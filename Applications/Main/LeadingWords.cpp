#include "Applications/Main/LeadingWords.h"

#include "Applications/Main/RunRecord.h"
#include "Applications/Main/VerbSteps.h"
#include "Applications/Main/Verbs.h"
#include "platform/Platform.h"
#include "platform/Text.h"

namespace zar {
namespace {

bool TakeLog(const Arguments& line, int at, LeadingWords* words)
{
    if (words->Log != nullptr) {
        Print(u"\nLOG FILE ERROR!! /log is given twice.\n");
        return false;
    }
    words->Log = FileNameWord(line, at, u"\nLOG FILE ERROR!! /log needs a file name.\n");
    return words->Log != nullptr && RunRecordBegin(words->Log, line);
}

bool TakeBackupWord(const Arguments& line, int at, LeadingWords* words)
{
    return TakeBackup(line, at, &words->Update);
}

bool TakeKeepWord(const Arguments& line, int at, LeadingWords* words)
{
    return TakeKeep(line.At(at), &words->Update);
}

// How long the last screen waits for a key, 0 for not at all
// (platform/RunEnding.h).
bool TakeWait(const Arguments& line, int at, LeadingWords* words)
{
    uint64_t seconds = 0;
    if (!ParseNumber(line.At(at), &seconds) || seconds > MAX_WAIT_SECONDS) {
        static_assert(MAX_WAIT_SECONDS == 3600, "the message names the bound");
        Print(u"\nCOMMAND LINE ERROR!! /wait needs a number of seconds from 0 to 3600. Nothing was sent to the EC.\n");
        return false;
    }
    words->Ending.WaitGiven = true;
    words->Ending.WaitSeconds = static_cast<uint32_t>(seconds);
    return true;
}

// What the machine does after a run that ended well: "reset" or "off".
bool TakeThen(const Arguments& line, int at, LeadingWords* words)
{
    const char* what = line.At(at);
    if (what && TextEqualNoCase(what, "reset")) {
        words->Ending.Then = AfterRun::Reset;
    } else if (what && TextEqualNoCase(what, "off")) {
        words->Ending.Then = AfterRun::PowerOff;
    } else {
        Print(u"\nCOMMAND LINE ERROR!! /then takes reset or off. Nothing was sent to the EC.\n");
        return false;
    }
    return true;
}

struct LeadingWord {
    const char* Name;
    bool UpdateOnly;  // only /update takes it
    // Reads its own word, line.At(at); false once it has said why it refuses it.
    bool (*Take)(const Arguments& line, int at, LeadingWords* words);
};

constexpr LeadingWord LEADING_WORDS[] = {
    {"/log", false, TakeLog},
    {"/backup", true, TakeBackupWord},
    {"/keep", true, TakeKeepWord},
    {"/wait", false, TakeWait},
    {"/then", false, TakeThen},
};

const LeadingWord* FindLeadingWord(const char* word)
{
    for (const LeadingWord& row : LEADING_WORDS) {
        if (WordIs(word, row.Name))
            return &row;
    }
    return nullptr;
}

}  // namespace

bool WordIs(const char* word, const char* name)
{
    return word != nullptr && TextEqualNoCase(word, name);
}

bool IsLeadingWord(const char* word)
{
    return FindLeadingWord(word) != nullptr;
}

bool LeadingWordIs(const char* word, const char* name)
{
    const LeadingWord* row = FindLeadingWord(word);
    return row != nullptr && row == FindLeadingWord(name);
}

int SkipLeadingWords(const Arguments& line)
{
    int at = 1;
    while (IsLeadingWord(line.At(at)))
        at += 2;
    return at;
}

bool ReadLeadingWords(const Arguments& line, LeadingWords* words)
{
    MemSet(words, 0, sizeof *words);
    int at = 1;
    for (const LeadingWord* row; (row = FindLeadingWord(line.At(at))) != nullptr; at += 2) {
        if (!row->Take(line, at + 1, words))
            return false;
        words->ForUpdateOnly = words->ForUpdateOnly || row->UpdateOnly;
    }
    words->Next = at;
    return true;
}

bool RefuseWordsOutOfPlace(const Arguments& line, int from)
{
    for (int at = from; at < line.Count(); ++at) {
        const char* word = line.At(at);
        if (IsLeadingWord(word)) {
            Print(u"\nCOMMAND LINE ERROR!! %a is out of place: it goes before the verb or the image, never after"
                  u" them. Nothing was sent to the EC.\n",
                  word);
            return false;
        }
        if (IsVerb(word)) {
            Print(u"\nCOMMAND LINE ERROR!! %a is out of place: a verb is the first word, after only /log FILE, /wait"
                  u" SECONDS, /then reset|off (and /update's /backup FILE and /keep START-END). Nothing was sent to"
                  u" the EC.\n",
                  word);
            return false;
        }
    }
    return true;
}

}  // namespace zar
