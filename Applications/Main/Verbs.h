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

// Whether word names one of the verbs above.
bool IsVerb(const char* word);

}  // namespace zar
