#include "Harness.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "Applications/Main/Main.h"
#include "ec/EcChannel.h"
#include "flash/SpiOpcodes.h"
#include "platform/hosted/HostConsole.h"
#include "sim/SpiLog.h"

namespace zar::test {

std::string MemoryTrace::Lines() const
{
    std::string text;
    char line[16];
    for (const PortAccess& a : accesses) {
        snprintf(line, sizeof line, "%s %02x %02x\n", a.Write ? "out" : "in", a.Port, a.Value);
        text += line;
    }
    return text;
}

std::string MemoryTrace::CommandStream() const
{
    std::string text;
    bool payload = false;
    char byte[4];
    for (const PortAccess& a : accesses) {
        if (!a.Write || a.Port != EC_COMMAND_PORT)
            continue;
        if (!text.empty())
            text += ' ';
        if (!payload && a.Value == FOLLOW_READ) {
            text += 'R';
            continue;
        }
        snprintf(byte, sizeof byte, "%02X", a.Value);
        text += byte;
        payload = !payload && (a.Value == FOLLOW_OPCODE || a.Value == FOLLOW_WRITE);
    }
    return text;
}

namespace {
std::string TempFolder()
{
    static std::string folder = [] {
        char pattern[] = "/tmp/zar-test-XXXXXX";
        const char* made = mkdtemp(pattern);
        std::string path = made ? made : "/tmp";
        // The flasher takes a name that begins with "/" for a switch, as the
        // Shell's users write them: tests name their files relative to here.
        if (chdir(path.c_str()) != 0)
            abort();
        return path;
    }();
    return folder;
}
}  // namespace

std::string TempPath(const std::string& name)
{
    TempFolder();
    return name;
}

std::string AbsolutePath(const std::string& name)
{
    return TempFolder() + "/" + name;
}

std::string WriteTempFile(const std::string& name, const std::vector<uint8_t>& bytes)
{
    std::string path = TempPath(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string PaddedName(const std::string& text)
{
    std::string name = text.substr(0, 32);
    name.resize(32, ' ');
    return name;
}

std::vector<uint8_t> MakeImage(size_t size, const std::string& module)
{
    std::vector<uint8_t> image(size);
    for (size_t i = 0; i < size; ++i)
        image[i] = static_cast<uint8_t>((i * 13) ^ (i >> 9) ^ 0x3C);
    std::string name = PaddedName(module);
    for (size_t i = 0; i < 32 && 0x50 + i < size; ++i)
        image[0x50 + i] = static_cast<uint8_t>(name[i]);
    return image;
}

std::string Hex(uint32_t value, const char* format)
{
    char text[16];
    snprintf(text, sizeof text, format, value);
    return text;
}

uint32_t ByteSum(const std::vector<uint8_t>& bytes, size_t count)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < count && i < bytes.size(); ++i)
        sum += bytes[i];
    return sum;
}

namespace {
// The '=' marks between a line's label and the first " -- " after it; -1
// when the label is not in the text.
int MarksAfter(const std::string& text, const std::string& label)
{
    size_t at = text.find(label);
    if (at == std::string::npos)
        return -1;
    at += label.size();
    size_t end = text.find(" -- ", at);
    return static_cast<int>(std::count(text.begin() + at, text.begin() + (end == std::string::npos ? text.size() : end), '='));
}
}  // namespace

std::vector<BlockMarks> MarksPerBlock(const std::string& output)
{
    std::vector<BlockMarks> blocks;
    const std::string label = "Block Number     : ";
    for (size_t at = output.find(label); at != std::string::npos;) {
        size_t next = output.find(label, at + 1);
        std::string block = output.substr(at, next == std::string::npos ? std::string::npos : next - at);
        blocks.push_back({MarksAfter(block, "Eraseing...      : "), MarksAfter(block, "Erase Verify...  : "),
                          MarksAfter(block, "Programing...    : "), MarksAfter(block, "Verify...        : ")});
        at = next;
    }
    return blocks;
}

size_t CountOf(const std::string& text, const std::string& piece)
{
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size()))
        ++count;
    return count;
}

std::vector<std::string> FlashWrites(const std::vector<std::string>& spiLog)
{
    std::vector<std::string> found;
    for (const std::string& line : spiLog) {
        for (const SpiOpcodeInfo& opcode : SPI_OPCODES) {
            bool changes = opcode.Properties & (OP_PROGRAMS | OP_ERASES | OP_WRITES_STATUS);
            if (changes && line.starts_with(std::string(opcode.Name) + " "))
                found.push_back(line);
        }
    }
    return found;
}

std::vector<std::string> AdvisedCommand(const std::string& output)
{
    size_t at = output.find("\r\n  zar ");
    if (at == std::string::npos)
        return {};
    std::string line = output.substr(at + 8, output.find("\r\n", at + 2) - at - 8);
    std::vector<std::string> words;
    for (size_t start = 0, end; start < line.size(); start = end + 1) {
        end = line.find(' ', start);
        if (end == std::string::npos)
            end = line.size();
        words.push_back(line.substr(start, end - start));
    }
    return words;
}

struct Rig::Capture {
    hosted::CaptureConsole console;
};

struct Rig::Decoder final : sim::SpiLogSink {
    void Line(const char* text, size_t length) override { lines.emplace_back(text, length); }
    std::vector<std::string> lines;
    sim::SpiLogDecoder decoder{this};
};

void Rig::DecodeSpi()
{
    decoder_ = std::make_unique<Decoder>();
    machine_->Ec().SetTrace(&decoder_->decoder);
}

std::vector<std::string> Rig::SpiLog()
{
    if (!decoder_)
        return {};
    decoder_->decoder.Finish();
    return decoder_->lines;
}

Rig::Rig(const sim::ChipInfo* chip, const sim::EcConfig& ec, const sim::ChipConfig& chipConfig)
    : machine_(std::make_unique<sim::SimMachine>()), capture_(std::make_unique<Capture>())
{
    sim::MachineSetup setup;
    setup.Chip = chip;
    setup.Ec = ec;
    setup.ChipSetup = chipConfig;
    flash_.assign(machine_->ChooseChip(setup).Part->Size, 0);
    for (size_t i = 0; i < flash_.size(); ++i)
        flash_[i] = static_cast<uint8_t>(0xCC ^ (i >> 12));  // neither erased nor zero
    machine_->PowerUp(setup, flash_.data());
    machine_->Ec().SetTrace(&trace_);
    SetEcModule("TESTMOD ");
}

Rig::~Rig() = default;

void Rig::SetEcModule(const std::string& name)
{
    std::string padded = PaddedName(name);
    machine_->SetModuleName(reinterpret_cast<const uint8_t*>(padded.data()), padded.size());
}

void Rig::Activate()
{
    capture_->console.output.clear();
    capture_->console.redrawn.clear();
    hosted::SetConsoleSink(&capture_->console);
    sim::SetActiveEc(&machine_->Ec());
}

void Rig::Deactivate()
{
    sim::SetActiveEc(nullptr);
    hosted::SetConsoleSink(nullptr);
    output_ = capture_->console.output;
    redrawn_ = capture_->console.redrawn;
}

int Rig::Run(const std::vector<std::string>& args)
{
    std::vector<std::string> storage = {"zar"};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    int status = 0;
    With([&] { status = zar::main(static_cast<int>(storage.size()), argv.data()); });
    return status;
}

}  // namespace zar::test
