#include "platform/Machine.h"

namespace zar {
namespace {

// Constant-initialised: set by zar-sim before the run, read by the record.
MachineIdentity gSimulated;
bool gSimulatedSet = false;
char gSimulatedStation[IDENTITY_TEXT_MAX + 1];
bool gSimulatedStationSet = false;

size_t TextLength(const char* text)
{
    size_t length = 0;
    while (text[length])
        ++length;
    return length;
}

}  // namespace

bool WallClockValid(const WallClock& c)
{
    return c.Year >= 1900 && c.Year <= 9999 && c.Month >= 1 && c.Month <= 12 && c.Day >= 1 && c.Day <= 31 &&
           c.Hour <= 23 && c.Minute <= 59 && c.Second <= 59;
}

void ReadMachineIdentity(MachineIdentity* identity)
{
    if (gSimulatedSet)
        *identity = gSimulated;
    else
        ReadFirmwareMachineIdentity(identity);
}

void SetSimulatedMachine(const MachineIdentity* identity)
{
    gSimulatedSet = identity != nullptr;
    if (identity)
        gSimulated = *identity;
}

void ReadStationName(char (&name)[IDENTITY_TEXT_MAX + 1])
{
    if (gSimulatedStationSet)
        CopyIdentityText(name, gSimulatedStation, TextLength(gSimulatedStation));
    else
        ReadPlatformStationName(name);
}

void SetSimulatedStation(const char* name)
{
    gSimulatedStationSet = name != nullptr;
    if (name)
        CopyIdentityText(gSimulatedStation, name, TextLength(name));
}

void CopyIdentityText(char (&out)[IDENTITY_TEXT_MAX + 1], const char* text, size_t length)
{
    while (length > 0 && (text[0] == ' ' || text[0] == '\t')) {
        ++text;
        --length;
    }
    while (length > 0 && (text[length - 1] == ' ' || text[length - 1] == '\t'))
        --length;
    if (length > IDENTITY_TEXT_MAX)
        length = IDENTITY_TEXT_MAX;
    for (size_t i = 0; i < length; ++i)
        out[i] = text[i];
    out[length] = 0;
}

}  // namespace zar
