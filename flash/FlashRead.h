// Reading the chip without changing it: a range in one FAST_READ, an image
// block compared with what the chip holds, the status register and the RES
// signature. Nothing here sends an erase, program or status-register write.
#pragma once

#include <stdint.h>

namespace zar {

// Waits for the chip to be idle, then opens a FAST_READ at address; the
// transaction stays open and the chip delivers its bytes in address order.
// The caller holds an Uninterrupted (platform/Uninterrupted.h) from here to
// FlashReadEnd, and reads at most a 64 KiB block in one.
void FlashReadStart(uint32_t address);
// The next count bytes of the open read into out (out may be nullptr: the
// bytes are summed and compared only). False once the channel is dead.
[[nodiscard]] bool FlashReadBytes(uint8_t* out, uint32_t count);
// Ends the read: the wait's FOLLOW_START closes it.
void FlashReadEnd();

struct [[nodiscard]] FlashComparison {
    int32_t Compared;         // bytes read and compared
    int32_t Differing;        // how many of them differ from expected
    int32_t FirstDifference;  // offset in the range of the first difference, -1 for none
    uint32_t Sum;             // the bytes read, added up as the run's checksum adds them
    bool NoAnswer;            // the channel died on the way
};

// Reads count bytes from address in one FAST_READ and compares them with
// expected. With stopAtFirst the read ends at the first difference.
FlashComparison FlashCompare(uint32_t address, const uint8_t* expected, int32_t count, bool stopAtFirst);

// One RDSR read, whatever the chip is doing.
uint8_t FlashReadStatus();
// RES (0xAB) with its three dummy bytes: four bytes of the signature.
void FlashReadSignature(uint8_t out[4]);

}  // namespace zar
