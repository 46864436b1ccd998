// A simulated machine for tests: an EC with a chip on its SPI bus, a port
// trace kept in memory, the console captured, and image files in a temporary
// folder.
#pragma once

#include <stdint.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "sim/ChipCatalog.h"
#include "sim/SimEc.h"
#include "sim/SimMachine.h"
#include "sim/SpiNorChip.h"

namespace zar::test {

// The banner as the console shows it.
inline const std::string BANNER =
    "\r\n------------------------------------------------------------"
    "\r\n| ZAR.EXE - ORV Flash Utility  Version : 3.4.0  2019.06.28 |"
    "\r\n------------------------------------------------------------";

struct PortAccess {
    bool Write;
    uint8_t Port;
    uint8_t Value;
};

class MemoryTrace : public sim::TraceSink {
public:
    void Access(bool write, uint8_t port, uint8_t value) override { accesses.push_back({write, port, value}); }
    // "in 66 02\nout 62 08\n..."
    std::string Lines() const;
    // The bytes written to the command port, with each FOLLOW_READ sub-command
    // shown as R: "01 02 05 R 05".
    std::string CommandStream() const;
    bool TouchedPorts() const { return !accesses.empty(); }

    std::vector<PortAccess> accesses;
};

// Files live in a per-process temporary folder, which is also the current
// directory; names are relative to it.
std::string WriteTempFile(const std::string& name, const std::vector<uint8_t>& bytes);
std::string TempPath(const std::string& name);
std::string AbsolutePath(const std::string& name);
std::vector<uint8_t> ReadFileBytes(const std::string& path);

// An image of `size` bytes: a varied pattern with `module` at 0x50, padded
// with spaces to 32 bytes (cut where the image ends).
std::vector<uint8_t> MakeImage(size_t size, const std::string& module = "TESTMOD ");

// 32-byte module name: text padded with spaces.
std::string PaddedName(const std::string& text);

class Rig {
public:
    explicit Rig(const sim::ChipInfo* chip = nullptr, const sim::EcConfig& ec = {},
                 const sim::ChipConfig& chipConfig = {});
    ~Rig();
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    sim::SimEc& Ec() { return machine_->Ec(); }
    sim::SpiNorChip& Chip() { return machine_->Chip(); }
    std::vector<uint8_t>& Flash() { return flash_; }
    void DetachChip() { machine_->Ec().AttachChip(nullptr); }
    // Whole-image runs make millions of accesses: leave them out of memory.
    void StopTracing() { machine_->Ec().SetTrace(nullptr); }
    // Decodes the run live instead of keeping its accesses (sim/SpiLog.h).
    void DecodeSpi();
    // The decoded lines so far, what is still open included.
    std::vector<std::string> SpiLog();
    void SetEcModule(const std::string& name);

    // Runs the flasher as "zar ARGS..." with this rig on the ports.
    int Run(const std::vector<std::string>& args);
    // Runs `body` with this rig on the ports and the console captured.
    template <typename Body>
    void With(Body body)
    {
        Activate();
        body();
        Deactivate();
    }

    const std::string& Output() const { return output_; }
    // What the run redrew in place (progress lines), kept apart from Output.
    const std::string& Redrawn() const { return redrawn_; }
    MemoryTrace& Trace() { return trace_; }

private:
    void Activate();
    void Deactivate();

    std::unique_ptr<sim::SimMachine> machine_;
    std::vector<uint8_t> flash_;
    MemoryTrace trace_;
    std::string output_;
    std::string redrawn_;
    struct Capture;
    std::unique_ptr<Capture> capture_;
    struct Decoder;
    std::unique_ptr<Decoder> decoder_;
};

// value as printf's format (one conversion of an unsigned int) gives it.
std::string Hex(uint32_t value, const char* format = "%X");

// The sum of bytes, as the run's checksum adds them.
uint32_t ByteSum(const std::vector<uint8_t>& bytes, size_t count);

// The progress marks of one block's four lines.
struct BlockMarks {
    int Erase = -1, BlankCheck = -1, Program = -1, Verify = -1;
    bool operator==(const BlockMarks&) const = default;
};
inline void PrintTo(const BlockMarks& m, std::ostream* os)
{
    *os << "{" << m.Erase << ", " << m.BlankCheck << ", " << m.Program << ", " << m.Verify << "}";
}
// Splits a run's console text at its "Block Number" lines.
std::vector<BlockMarks> MarksPerBlock(const std::string& output);

// The decoded lines that change the chip: erases, programs, status writes.
std::vector<std::string> FlashWrites(const std::vector<std::string>& spiLog);

// Counts non-overlapping occurrences.
size_t CountOf(const std::string& text, const std::string& piece);

// The words of the first "  zar ..." line of a run's console text: the
// command it told the user to type, without "zar"; empty when it gave none.
std::vector<std::string> AdvisedCommand(const std::string& output);

}  // namespace zar::test

namespace zar::test {
// The first catalog part that satisfies the predicate (the test fails
// without one).
template <typename Predicate>
const sim::ChipInfo* FindPart(Predicate predicate)
{
    for (int i = 0; i < sim::ChipCount(); ++i)
        if (predicate(sim::ChipAt(i)))
            return &sim::ChipAt(i);
    return nullptr;
}
}  // namespace zar::test
