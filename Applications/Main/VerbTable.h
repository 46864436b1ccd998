// The verbs as the command line finds them: one row each, with its usage
// line, matched without regard to case (LeadingWords.h, WordIs). A first word
// that begins with "/" and is no verb is refused before the EC is touched,
// with the verbs it could have meant.
#pragma once

#include "Applications/Main/Arguments.h"
#include "Applications/Main/ExitStatus.h"

namespace zar {

struct VerbRow {
    const char* Name;
    ExitStatus (*Run)(const Arguments& args);
    const char16_t* Usage;
};

// The verb's row; nullptr when word names none.
const VerbRow* FindVerb(const char* word);

// Each verb's usage line, and the leading word every command takes.
void PrintVerbUsage();

// "UNKNOWN VERB!!" with the word, the nearest verb when it looks like a
// typo of one, and the verbs; nothing has touched the EC. EXIT_BAD_IMAGE.
ExitStatus RefuseUnknownVerb(const char* word);

}  // namespace zar
