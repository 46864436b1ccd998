// What the simulated EC sees of the flash chip on its SPI bus.
#pragma once

#include <stdint.h>

namespace zar::sim {

class SpiDevice {
public:
    virtual void Select() = 0;               // chip select asserted: a transaction begins
    virtual void Deselect() = 0;             // chip select released: the command takes effect
    virtual void Write(uint8_t value) = 0;   // one byte shifted out to the chip
    virtual uint8_t Read() = 0;              // one byte shifted in from the chip

protected:
    ~SpiDevice() = default;
};

// Virtual time shared by the EC and the chip, in nanoseconds. It advances only
// under real timing; under fast timing it stays at 0 and every wait is a count
// of status reads.
struct SimClock {
    uint64_t Now = 0;
};

// Small, fast, seedable generator for latencies and busy times.
class SimRandom {
public:
    constexpr explicit SimRandom(uint64_t seed = 1) : state_(seed ? seed : 0x9E3779B97F4A7C15ull) {}
    uint32_t Next()
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<uint32_t>(state_ >> 16);
    }
    // 0..max inclusive
    // 0..max inclusive; max + 1 would wrap to 0 at UINT32_MAX.
    uint32_t Below(uint32_t max)
    {
        if (max == 0)
            return 0;
        return max == UINT32_MAX ? Next() : Next() % (max + 1);
    }

private:
    uint64_t state_;
};

// How many status reads pass before something happens: none, a fixed number,
// or a seeded draw from 0..Count.
struct ReadDelay {
    enum Kind : uint8_t { Zero, Fixed, Random } Mode = Zero;
    uint32_t Count = 0;
    uint64_t Seed = 1;
};

}  // namespace zar::sim
