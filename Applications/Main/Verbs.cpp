// Placeholders until each verb has its own file.
#include "Applications/Main/Verbs.h"

#include "Applications/Main/Main.h"

namespace zar {

int RunProbe(const Arguments&) { return EXIT_BAD_IMAGE; }
int RunRead(const Arguments&) { return EXIT_BAD_IMAGE; }
int RunVerify(const Arguments&) { return EXIT_BAD_IMAGE; }
int RunUpdate(const Arguments&) { return EXIT_BAD_IMAGE; }

}  // namespace zar
