#include "ec/EcChannel.h"

#include "platform/Platform.h"
#include "platform/Uninterrupted.h"

namespace zar {
namespace {

WaitLimits gLimits = DEFAULT_WAIT_LIMITS;
EcPorts gPorts = ACPI_EC_PORTS;
EcFault gFault = {WaitFault::None, {0, 0}};
EcPlace gPlace = {0, 0};

// Reads the status port until the bits in mask equal want, at most
// gLimits.EcStatusReads times. On the last failed read the channel gives up.
[[nodiscard]] inline bool WaitStatus(uint8_t mask, uint8_t want, WaitFault fault)
{
    uint32_t reads = gLimits.EcStatusReads;
    while ((PortReadByte(gPorts.Status) & mask) != want) {
        if (--reads == 0) {
            EcGiveUp(fault);
            return false;
        }
    }
    return true;
}

[[nodiscard]] inline bool WaitInputEmpty()
{
    return WaitStatus(EC_STATUS_IBF, 0, WaitFault::EcInputBuffer);
}

[[nodiscard]] inline bool WaitOutputFull()
{
    return WaitStatus(EC_STATUS_OBF, EC_STATUS_OBF, WaitFault::EcOutputBuffer);
}

// Input-buffer handshake: wait until the EC has taken the previous byte,
// write, wait until it has taken this one. OBF is not looked at and a byte
// waiting in the data port is left there.
inline void WriteWithHandshake(uint8_t port, uint8_t value)
{
    if (EcChannelDead() || !WaitInputEmpty())
        return;
    PortWriteByte(port, value);
    (void)WaitInputEmpty();
}

}  // namespace

void SetWaitLimits(WaitLimits limits)
{
    gLimits.EcStatusReads = limits.EcStatusReads ? limits.EcStatusReads : DEFAULT_WAIT_LIMITS.EcStatusReads;
    gLimits.FlashPolls = limits.FlashPolls ? limits.FlashPolls : DEFAULT_WAIT_LIMITS.FlashPolls;
}

WaitLimits CurrentWaitLimits()
{
    return gLimits;
}

void EcOpenChannel(EcPorts ports)
{
    gPorts = ports;
    gFault = {WaitFault::None, {0, 0}};
    gPlace = {0, 0};
}

EcPorts EcChannelPorts()
{
    return gPorts;
}

EcFault EcChannelFault()
{
    return gFault;
}

void EcMarkPlace(EcPlace place)
{
    gPlace = place;
}

bool EcChannelDead()
{
    return gFault.Wait != WaitFault::None;
}

void EcGiveUp(WaitFault fault)
{
    if (gFault.Wait == WaitFault::None)
        gFault = {fault, gPlace};
}

void EcTakeBackGiveUp()
{
    gFault = {WaitFault::None, {0, 0}};
}

void EcSendCommand(uint8_t value)
{
    WriteWithHandshake(gPorts.Command, value);
}

void EcWriteData(uint8_t value)
{
    WriteWithHandshake(gPorts.Data, value);
}

uint8_t EcReadData()
{
    if (EcChannelDead() || !WaitOutputFull())
        return 0xFF;
    return PortReadByte(gPorts.Data);
}

uint8_t EcFollowRead()
{
    EcSendCommand(FOLLOW_READ);
    return EcReadData();
}

uint8_t EcReadMemory(uint8_t high, uint8_t low)
{
    Uninterrupted held;
    EcSendCommand(EC_CMD_READ_MEMORY);
    EcWriteData(high);
    EcWriteData(low);
    return EcReadData();
}

uint8_t EcEnterFollowMode()
{
    uint8_t answer = 0;
    {
        Uninterrupted held;
        EcSendCommand(EC_CMD_FOLLOW_ENTER);
        answer = EcReadData();
    }
    if (!EcChannelDead() && answer != EC_FOLLOW_ACK)
        Print(u"\nEC ACK Fail. \n\n");
    return answer;
}

}  // namespace zar
