// The words that lead a command line, each with one word of its own:
// "/log FILE", "/backup FILE", "/keep START-END", "/wait SECONDS",
// "/then reset|off". They come before the verb
// (or the classic image), in any order, and count nowhere else: one table
// holds them, one scan reads them, and one refuses any of them, or a verb
// word, found after the verb or the image, before the EC is touched.
#pragma once

#include "Applications/Main/Arguments.h"
#include "Applications/Main/UpdateOptions.h"
#include "platform/RunEnding.h"

namespace zar {

// What the leading words said.
struct LeadingWords {
    const char* Log;        // "/log FILE", its record opened once read; nullptr without
    UpdateOptions Update;   // "/backup FILE" and "/keep START-END"
    RunEnding Ending;       // "/wait SECONDS" and "/then reset|off"
    bool ForUpdateOnly;     // a word that only /update takes was given
    int Next;               // the first word after them: the verb, or the classic image
};

// Reads the leading words from line.At(1) on into *words; "/log FILE" opens
// the run's record as soon as it is read, so that what follows is recorded.
// False, once it has said why, for a word it refuses: the run then ends with
// EXIT_BAD_IMAGE before the EC is touched.
[[nodiscard]] bool ReadLeadingWords(const Arguments& line, LeadingWords* words);

// The index of the first word after the leading words, without reading them.
int SkipLeadingWords(const Arguments& line);

// Whether word is the command word name. Verbs and leading words are matched
// without regard to case, as the Shell matches its own switches ("/PROBE",
// "/Keep"); the classic line's words ("p", "/j") keep their exact meaning.
bool WordIs(const char* word, const char* name);

// Whether word is one of the leading words; whether it is the one named
// (as the table matches words, so that a rule for matching lives in one place).
bool IsLeadingWord(const char* word);
bool LeadingWordIs(const char* word, const char* name);

// From line.At(from) on, a leading word or a verb word is out of place: the
// first one found is named, and false returned (EXIT_BAD_IMAGE, before the EC
// is touched).
[[nodiscard]] bool RefuseWordsOutOfPlace(const Arguments& line, int from);

}  // namespace zar
