// A simulated embedded controller behind the two ACPI EC ports.
//
// It models the status register (OBF, IBF) with a chosen latency, normal mode
// with a 64 KiB EC memory, follow mode relaying SPI transactions to an
// attached SpiDevice, and the closing commands after which it takes nothing
// more. Every port access can be passed to a trace sink.
#pragma once

#include <stdint.h>

#include "ec/ModuleName.h"
#include "sim/SpiDevice.h"

namespace zar::sim {

class TraceSink {
public:
    virtual void Access(bool write, uint8_t port, uint8_t value) = 0;

protected:
    ~TraceSink() = default;
};

enum class EcMode : uint8_t {
    Normal,
    Follow,
    ClosedExit,     // EC_CMD_FOLLOW_EXIT (0xFE) received
    ClosedExitAlt,  // EC_CMD_FOLLOW_EXIT_ALT (0xFC) received
};

// What an EC in follow mode does with a byte that is no follow-mode
// sub-command: a normal-mode command such as EC_CMD_READ_MEMORY or
// EC_CMD_FOLLOW_ENTER, or a write to the data port. That is what the next run
// sends first when a run was cut short in follow mode, and how a real EC's
// firmware takes it is not known; these are the plausible ways.
enum class ForeignByte : uint8_t {
    Ignore,      // taken and dropped; nothing is answered
    SubCommand,  // decoded by its low three bits, as a firmware that masks the
                 // code would: 0x92 becomes FOLLOW_OPCODE, 0xDC FOLLOW_READ
    Serve,       // served as in normal mode; follow mode stays on
    Leave,       // follow mode ends (the chip is deselected), then it is served
};

struct EcFaults {
    uint64_t IbfStuckAfterWrites = ~0ull;  // after this many writes IBF never clears again
    uint64_t ObfStuckAfterAnswers = ~0ull; // after this many answers OBF never sets again
};

// Reads that ignore the EC's state: the status port always reads Status and
// the data port always reads Data, as two latched bytes on the bus would (QEMU's
// isa-debugcon with its readback byte is one). The EC still takes every byte
// written, so its mode, the chip and the trace follow the host's commands.
struct ConstantReads {
    bool On = false;
    uint8_t Data = 0xFF;
    uint8_t Status = 0xFF;
};

struct EcConfig {
    ReadDelay IbfDelay;  // status reads with IBF still set after a write
    ReadDelay ObfDelay;  // status reads before OBF sets once an answer is ready
    uint8_t FollowAck = 0x33;
    uint32_t AccessNs = 0;  // virtual time per port access (0: fast timing)
    ForeignByte Foreign = ForeignByte::Ignore;
    EcFaults Faults;
    ConstantReads Constant;
};

class SimEc {
public:
    static constexpr uint32_t MEMORY_SIZE = 0x10000;
    static constexpr uint16_t MODULE_NAME_ADDRESS = EC_MODULE_NAME_ADDRESS;

    // Constant-initialised, so a SimEc can live at namespace scope without a
    // global constructor; Init() (re)starts it as a freshly powered EC.
    constexpr SimEc() = default;
    void Init(const EcConfig& config = {});
    // Between two runs of the flasher: the injected faults are gone, and the
    // EC carries on from where the last run left it. It takes a byte still in
    // its input buffer and shows an answer still held back; follow mode and an
    // open SPI transaction stay. Only an EC that took its closing command
    // (perhaps just now) has restarted its firmware, in normal mode. The
    // counters run on.
    void NextRun();

    uint8_t PortRead(uint16_t port);
    void PortWrite(uint16_t port, uint8_t value);

    void AttachChip(SpiDevice* chip) { chip_ = chip; }
    void SetTrace(TraceSink* trace)
    {
        trace_ = trace;
        hooked_ = trace_ != nullptr || config_.Constant.On;
    }
    uint8_t* Memory() { return memory_; }
    // Puts name into ModuleName at 0x0880, padded with spaces to 32 bytes.
    void SetModuleName(const char* name);

    SimClock& Clock() { return clock_; }
    EcMode Mode() const { return mode_; }

    // What the EC keeps while the host restarts around it (SimMachine's
    // Kept): follow mode, where it stands in a command, an answer not yet
    // read. A closed EC has restarted its firmware by then.
    struct Kept {
        uint8_t Mode;
        uint8_t Expect;
        uint8_t AddressHigh;
        bool AnswerPending;
        uint8_t Answer;
    };
    // After Settle (the byte in its input buffer taken).
    Kept Keep() const;
    // Into a freshly Init()ed EC; false for values no EC state has.
    [[nodiscard]] bool Resume(const Kept& kept);
    // Time passes: the EC takes the byte it still held in its input buffer,
    // and an answer it prepared shows.
    void Settle();

    struct Counters {
        uint64_t Accesses = 0;
        uint64_t StatusReads = 0;
        uint64_t Writes = 0;
        uint64_t AfterClose = 0;       // writes and data reads after a closing command
        uint64_t Unexpected = 0;       // data-port writes in follow mode, unknown commands, ...
        uint64_t DroppedWrites = 0;    // writes while IBF was still set
        uint64_t Answers = 0;          // bytes the EC put into its output buffer
        uint64_t StuckAt = 0;          // the access at which an injected fault stopped the EC (0: none)
    };
    const Counters& Stats() const { return stats_; }

private:
    enum class Expect : uint8_t { Command, MemoryHigh, MemoryLow, SpiOpcode, SpiByte };

    // A status read while a buffer is still counting down its delay.
    [[gnu::noinline, gnu::cold]] void CountDown();
    void Take(uint16_t port, uint8_t value);
    void TakeNormal(uint16_t port, uint8_t value);
    void TakeFollow(uint16_t port, uint8_t value);
    void TakeForeign(uint16_t port, uint8_t value);
    void Answer(uint8_t value);
    uint32_t Draw(const ReadDelay& delay);
    // A read that is traced or answered with constants (hooked_).
    uint8_t HookedRead(uint8_t port, uint8_t value);
    void Trace(bool write, uint8_t port, uint8_t value)
    {
        if (trace_)
            trace_->Access(write, port, value);
    }

    EcConfig config_;
    SimRandom ibfRandom_;
    SimRandom obfRandom_;
    SimClock clock_;
    SpiDevice* chip_ = nullptr;
    TraceSink* trace_ = nullptr;
    bool hooked_ = false;  // reads go through HookedRead: a trace, or constant reads
    Counters stats_;

    EcMode mode_ = EcMode::Normal;
    Expect expect_ = Expect::Command;
    bool selected_ = false;

    // Input buffer: the byte written last and how many status reads it stays
    bool ibf_ = false;
    uint16_t pendingPort_ = 0;
    uint8_t pendingValue_ = 0;
    uint32_t ibfReads_ = 0;
    bool ibfStuck_ = false;
    bool obfStuck_ = false;

    // Output buffer: the answer, visible once obfReads_ status reads passed
    bool answerPending_ = false;
    bool obf_ = false;
    uint8_t data_ = 0;
    uint32_t obfReads_ = 0;

    uint8_t addressHigh_ = 0;
    uint8_t memory_[MEMORY_SIZE] = {};
};

// The EC that PortReadByte and PortWriteByte reach in simulated builds.
void SetActiveEc(SimEc* ec);
SimEc* ActiveEc();

}  // namespace zar::sim
