// The verbs: a first word that names one selects it. Each gets the command
// line from the verb on, so args.At(0) is the verb and args.At(1) its first
// word. Each returns main's status.
#pragma once

#include "Applications/Main/Arguments.h"

namespace zar {

ExitStatus RunProbe(const Arguments& args);   // /probe
ExitStatus RunRead(const Arguments& args);    // /read FILE [SIZE]
ExitStatus RunVerify(const Arguments& args);  // /verify IMAGE [p]
ExitStatus RunUpdate(const Arguments& args);  // /update IMAGE [p] [ARG3] [/j]

struct UpdateOptions;
// /update with the words before it: [/backup FILE] [/keep START-END]...
ExitStatus RunUpdateWith(const Arguments& args, const UpdateOptions& options);
// "COMMAND LINE ERROR!!" with /update's usage: those words without /update.
ExitStatus RefuseUpdateLine();

// Whether word names one of the verbs above; whether it names that one
// (ignoring case, as every verb is matched: LeadingWords.h, WordIs).
bool IsVerb(const char* word);
bool VerbIs(const char* word, const char* verb);

}  // namespace zar
