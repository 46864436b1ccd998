#include "Applications/Main/RunRecord.h"

#include "ec/EcChannel.h"

namespace zar {

bool RunRecordBegin(const char* path, const Arguments& fullCommandLine)
{
    (void)path;
    (void)fullCommandLine;
    return true;
}

void HandBackEc(uint8_t command, int status)
{
    (void)status;
    if (command != 0)
        EcSendCommand(command);
}

void RunRecordEnd(int status)
{
    (void)status;
}

}  // namespace zar
