#include "Applications/Main/Banner.h"

#include "platform/Platform.h"

namespace zar {

void PrintBanner()
{
    static constexpr char16_t RULE[] = u"\n\r------------------------------------------------------------";
    Print(RULE);
    Print(u"\n\r| ZAR.EXE - ORV Flash Utility  Version : 3.4.0  2019.06.28 |");
    Print(RULE);
}

}  // namespace zar
