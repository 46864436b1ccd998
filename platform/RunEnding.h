// What a program asks of its own end, once it has closed its files: how long
// its last screen waits for a key, and what the machine does then. The
// flasher fills it from "/wait SECONDS" and "/then reset|off"; the UEFI
// runtime carries it out (platform/uefi/UefiEnding.cpp). Linux has no last
// screen to keep and no machine to switch off: zar-sim only reports it.
#pragma once

#include <stdint.h>

namespace zar {

enum class AfterRun : uint8_t {
    Return,    // back to whoever started the program: the Shell, or the boot manager
    Reset,     // a cold reset
    PowerOff,  // switched off
};

// The longest wait "/wait" takes: an hour.
constexpr uint32_t MAX_WAIT_SECONDS = 3600;

struct RunEnding {
    bool WaitGiven;        // false: the platform's default wait
    uint32_t WaitSeconds;  // at most MAX_WAIT_SECONDS; 0: none
    AfterRun Then;         // asked only after a run that ended well
    bool EcInFollowMode;   // the run leaves the EC in follow mode: the last line says not to switch off
};

}  // namespace zar
