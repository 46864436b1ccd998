#include "Applications/Main/VerbTable.h"

#include "Applications/Main/LeadingWords.h"
#include "Applications/Main/Verbs.h"
#include "platform/Platform.h"
#include "platform/Text.h"

namespace zar {
namespace {

constexpr VerbRow VERBS[] = {
    {"/probe", RunProbe, u"zar /probe [/j]"},
    {"/read", RunRead, u"zar /read FILE [SIZE] [/j]"},
    {"/verify", RunVerify, u"zar /verify IMAGE [p] [/j]"},
    {"/update", RunUpdate, u"zar [/backup FILE] [/keep START-END]... /update IMAGE [p] [ARG3] [/j]"},
};

// Longer words are no typo of a verb.
constexpr int TYPO_LENGTH = 16;

int Length(const char* word)
{
    int length = 0;
    while (word[length])
        ++length;
    return length;
}

// Edits (a letter added, dropped or changed) from a to b, ignoring case;
// both at most TYPO_LENGTH letters.
int Edits(const char* a, const char* b)
{
    int lengthA = Length(a), lengthB = Length(b);
    int row[TYPO_LENGTH + 1];
    for (int j = 0; j <= lengthB; ++j)
        row[j] = j;
    for (int i = 1; i <= lengthA; ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= lengthB; ++j) {
            int above = row[j];
            int change = diagonal + (LowerAscii(a[i - 1]) == LowerAscii(b[j - 1]) ? 0 : 1);
            int fewest = above + 1 < row[j - 1] + 1 ? above + 1 : row[j - 1] + 1;
            row[j] = change < fewest ? change : fewest;
            diagonal = above;
        }
    }
    return row[lengthB];
}

// The verb word is one or two edits from, when it is short enough to be a
// typo of one; nullptr otherwise.
const char* NearestVerb(const char* word)
{
    if (Length(word) > TYPO_LENGTH)
        return nullptr;
    const char* nearest = nullptr;
    int fewest = 3;
    for (const VerbRow& verb : VERBS) {
        int edits = Edits(word, verb.Name);
        if (edits < fewest && edits < Length(verb.Name) - 2) {
            fewest = edits;
            nearest = verb.Name;
        }
    }
    return nearest;
}

bool LooksLikeAPath(const char* word)
{
    for (const char* c = word + 1; *c; ++c) {
        if (*c == '/' || *c == '\\' || *c == '.' || *c == ':')
            return true;
    }
    return false;
}

}  // namespace

const VerbRow* FindVerb(const char* word)
{
    for (const VerbRow& verb : VERBS) {
        if (WordIs(word, verb.Name))
            return &verb;
    }
    return nullptr;
}

bool IsVerb(const char* word)
{
    return FindVerb(word) != nullptr;
}

bool VerbIs(const char* word, const char* verb)
{
    return IsVerb(word) && WordIs(word, verb);
}

void PrintVerbUsage()
{
    Print(u"\nVerbs:\n");
    for (const VerbRow& verb : VERBS)
        Print(u"  %s\n", verb.Usage);
    Print(u"  /log FILE before any of them (or IMAGE) appends a record of the run to FILE\n");
    Print(u"More: help zar, or zar -?\n");
}

ExitStatus RefuseUnknownVerb(const char* word)
{
    Print(u"\nUNKNOWN VERB!! %a names no verb", word);
    if (const char* nearest = NearestVerb(word))
        Print(u"; did you mean %a?", nearest);
    else
        Print(u".");
    Print(u" Nothing was sent to the EC.\nThe verbs:");
    for (const VerbRow& verb : VERBS)
        Print(u" %a", verb.Name);
    Print(u" (in any case; zar alone shows their usage).\n");
    if (LooksLikeAPath(word))
        Print(u"  (%a begins with \"/\", which marks a switch: give an image's path without it, as fs0:\\dir\\file or"
              u" dir/file)\n",
              word);
    return EXIT_BAD_IMAGE;
}

}  // namespace zar
