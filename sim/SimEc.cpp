#include "sim/SimEc.h"

#include "ec/EcChannel.h"
#include "platform/Platform.h"

namespace zar::sim {

void SimEc::Init(const EcConfig& config)
{
    config_ = config;
    // Constant reads show no IBF or OBF, so nothing could count a latency
    // down: every byte is taken as it is written.
    if (config.Constant.On)
        config_.IbfDelay = config_.ObfDelay = ReadDelay{};
    ibfRandom_ = SimRandom(config.IbfDelay.Seed);
    obfRandom_ = SimRandom(config.ObfDelay.Seed ^ 0x5A5A5A5Aull);
    clock_ = SimClock{};
    chip_ = nullptr;
    trace_ = nullptr;
    hooked_ = config_.Constant.On;
    stats_ = Counters{};
    mode_ = EcMode::Normal;
    expect_ = Expect::Command;
    selected_ = false;
    ibf_ = false;
    pendingPort_ = 0;
    pendingValue_ = 0;
    ibfReads_ = 0;
    ibfStuck_ = false;
    obfStuck_ = false;
    answerPending_ = false;
    obf_ = false;
    data_ = 0;
    obfReads_ = 0;
    addressHigh_ = 0;
    // EC RAM is not blank on a real part either; a pattern keeps a misread
    // address from looking like a plausible name.
    MemSet(memory_, 0xCC, MEMORY_SIZE);
    SetModuleName("");
}

void SimEc::NextRun()
{
    config_.Faults = EcFaults{};
    ibfStuck_ = false;
    obfStuck_ = false;
    Settle();
}

void SimEc::Settle()
{
    // Time passes between the runs: the EC finishes what it had.
    if (ibf_) {
        ibf_ = false;
        ibfReads_ = 0;
        Take(pendingPort_, pendingValue_);
    }
    if (answerPending_) {
        obf_ = true;
        obfReads_ = 0;
    }
    if (mode_ == EcMode::ClosedExit || mode_ == EcMode::ClosedExitAlt) {
        mode_ = EcMode::Normal;
        expect_ = Expect::Command;
    }
}

SimEc::Kept SimEc::Keep() const
{
    return {static_cast<uint8_t>(mode_), static_cast<uint8_t>(expect_), addressHigh_, answerPending_, data_};
}

bool SimEc::Resume(const Kept& kept)
{
    if (kept.Mode > static_cast<uint8_t>(EcMode::Follow) || kept.Expect > static_cast<uint8_t>(Expect::SpiByte))
        return false;
    mode_ = static_cast<EcMode>(kept.Mode);
    expect_ = static_cast<Expect>(kept.Expect);
    addressHigh_ = kept.AddressHigh;
    answerPending_ = kept.AnswerPending;
    obf_ = kept.AnswerPending;
    data_ = kept.Answer;
    return true;
}

void SimEc::SetModuleName(const char* name)
{
    size_t i = 0;
    for (; name[i] && i < 32; ++i)
        memory_[MODULE_NAME_ADDRESS + i] = static_cast<uint8_t>(name[i]);
    for (; i < 32; ++i)
        memory_[MODULE_NAME_ADDRESS + i] = ' ';
}

uint32_t SimEc::Draw(const ReadDelay& delay)
{
    switch (delay.Mode) {
    case ReadDelay::Zero:
        return 0;
    case ReadDelay::Fixed:
        return delay.Count;
    case ReadDelay::Random:
        return (&delay == &config_.IbfDelay ? ibfRandom_ : obfRandom_).Below(delay.Count);
    }
    return 0;
}

uint8_t SimEc::PortRead(uint16_t port)
{
    clock_.Now += config_.AccessNs;
    ++stats_.Accesses;
    // Status reads that finish the closing command's own handshake are fine;
    // taking a byte from a closed EC is not.
    if ((mode_ == EcMode::ClosedExit || mode_ == EcMode::ClosedExitAlt) && port != EC_STATUS_PORT)
        ++stats_.AfterClose;

    uint8_t value;
    if (port == EC_STATUS_PORT) {
        ++stats_.StatusReads;
        // Most status reads find both buffers settled: the countdowns stay
        // off the hot path.
        if (ibf_ || (answerPending_ && !obf_)) [[unlikely]]
            CountDown();
        value = static_cast<uint8_t>((obf_ ? EC_STATUS_OBF : 0) | (ibf_ ? EC_STATUS_IBF : 0));
    } else if (port == EC_DATA_PORT) {
        value = data_;
        obf_ = false;
        answerPending_ = false;
    } else {
        value = 0xFF;
    }
    // Constant reads and the trace share one test, off the hot path.
    if (hooked_) [[unlikely]]
        value = HookedRead(static_cast<uint8_t>(port), value);
    return value;
}

uint8_t SimEc::HookedRead(uint8_t port, uint8_t value)
{
    // Under ConstantReads the EC's state still moves as on any read (a data
    // read takes its answer), but the bus shows the two fixed bytes.
    if (config_.Constant.On)
        value = port == EC_STATUS_PORT ? config_.Constant.Status
                : port == EC_DATA_PORT ? config_.Constant.Data
                                       : 0xFF;
    Trace(false, port, value);
    return value;
}

void SimEc::CountDown()
{
    // The output buffer counts down only for reads after the answer was made.
    if (answerPending_ && !obf_ && !obfStuck_) {
        if (obfReads_ == 0)
            obf_ = true;
        else
            --obfReads_;
    }
    if (ibf_ && !ibfStuck_) {
        if (ibfReads_ == 0) {
            ibf_ = false;
            Take(pendingPort_, pendingValue_);
        } else {
            --ibfReads_;
        }
    }
}

void SimEc::PortWrite(uint16_t port, uint8_t value)
{
    clock_.Now += config_.AccessNs;
    ++stats_.Accesses;
    Trace(true, static_cast<uint8_t>(port), value);
    if (mode_ == EcMode::ClosedExit || mode_ == EcMode::ClosedExitAlt) {
        ++stats_.AfterClose;
        return;
    }
    if (port != EC_DATA_PORT && port != EC_COMMAND_PORT) {
        ++stats_.Unexpected;
        return;
    }
    if (ibf_)
        ++stats_.DroppedWrites;  // the host did not wait; the new byte replaces it

    if (++stats_.Writes > config_.Faults.IbfStuckAfterWrites && !ibfStuck_) {
        ibfStuck_ = true;
        if (stats_.StuckAt == 0)
            stats_.StuckAt = stats_.Accesses;
    }
    pendingPort_ = port;
    pendingValue_ = value;
    ibfReads_ = Draw(config_.IbfDelay);
    if (ibfReads_ == 0 && !ibfStuck_) {
        ibf_ = false;
        Take(port, value);
    } else {
        ibf_ = true;
    }
}

void SimEc::Answer(uint8_t value)
{
    if (answerPending_)
        ++stats_.Unexpected;  // a second answer overwrites one the host never read
    if (++stats_.Answers > config_.Faults.ObfStuckAfterAnswers && !obfStuck_) {
        obfStuck_ = true;
        if (stats_.StuckAt == 0)
            stats_.StuckAt = stats_.Accesses;
    }
    data_ = value;
    answerPending_ = true;
    obf_ = false;
    obfReads_ = Draw(config_.ObfDelay);
    if (obfReads_ == 0 && !obfStuck_)
        obf_ = true;
}

void SimEc::Take(uint16_t port, uint8_t value)
{
    if (mode_ == EcMode::Follow)
        TakeFollow(port, value);
    else
        TakeNormal(port, value);
}

void SimEc::TakeNormal(uint16_t port, uint8_t value)
{
    if (port == EC_DATA_PORT) {
        if (expect_ == Expect::MemoryHigh) {
            addressHigh_ = value;
            expect_ = Expect::MemoryLow;
        } else if (expect_ == Expect::MemoryLow) {
            expect_ = Expect::Command;
            Answer(memory_[(addressHigh_ << 8) | value]);
        } else {
            ++stats_.Unexpected;
        }
        return;
    }
    expect_ = Expect::Command;
    switch (value) {
    case EC_CMD_READ_MEMORY:
        expect_ = Expect::MemoryHigh;
        break;
    case EC_CMD_FOLLOW_ENTER:
        mode_ = EcMode::Follow;
        Answer(config_.FollowAck);
        break;
    case EC_CMD_FOLLOW_EXIT:
        mode_ = EcMode::ClosedExit;
        break;
    case EC_CMD_FOLLOW_EXIT_ALT:
        mode_ = EcMode::ClosedExitAlt;
        break;
    default:
        ++stats_.Unexpected;
        break;
    }
}

void SimEc::TakeFollow(uint16_t port, uint8_t value)
{
    if (port == EC_DATA_PORT) {
        TakeForeign(port, value);  // the flasher never writes the data port in follow mode
        return;
    }
    if (expect_ == Expect::SpiByte) {
        expect_ = Expect::Command;
        if (selected_ && chip_)
            chip_->Write(value);
        else if (!selected_)
            ++stats_.Unexpected;
        return;
    }
    expect_ = Expect::Command;
    switch (value) {
    case FOLLOW_START:
        if (selected_ && chip_)
            chip_->Deselect();
        selected_ = true;
        if (chip_)
            chip_->Select();
        break;
    case FOLLOW_OPCODE:
    case FOLLOW_WRITE:
        expect_ = Expect::SpiByte;
        break;
    case FOLLOW_READ:
        if (!selected_)
            ++stats_.Unexpected;
        // An absent chip leaves MISO floating high.
        Answer(selected_ && chip_ ? chip_->Read() : 0xFF);
        break;
    case FOLLOW_END:
        if (selected_ && chip_)
            chip_->Deselect();
        selected_ = false;
        break;
    case EC_CMD_FOLLOW_EXIT:
    case EC_CMD_FOLLOW_EXIT_ALT:
        if (selected_ && chip_)
            chip_->Deselect();
        selected_ = false;
        mode_ = value == EC_CMD_FOLLOW_EXIT ? EcMode::ClosedExit : EcMode::ClosedExitAlt;
        break;
    default:
        TakeForeign(port, value);
        break;
    }
}

void SimEc::TakeForeign(uint16_t port, uint8_t value)
{
    ++stats_.Unexpected;
    switch (config_.Foreign) {
    case ForeignByte::Ignore:
        break;
    case ForeignByte::SubCommand: {
        auto code = static_cast<uint8_t>(value & 0x07);
        if (port == EC_COMMAND_PORT && code >= FOLLOW_START && code <= FOLLOW_END)
            TakeFollow(port, code);
        break;
    }
    case ForeignByte::Serve:
        TakeNormal(port, value);
        break;
    case ForeignByte::Leave:
        if (selected_ && chip_)
            chip_->Deselect();
        selected_ = false;
        mode_ = EcMode::Normal;
        expect_ = Expect::Command;
        TakeNormal(port, value);
        break;
    }
}

namespace {
SimEc* gActiveEc = nullptr;
}

void SetActiveEc(SimEc* ec)
{
    gActiveEc = ec;
}

SimEc* ActiveEc()
{
    return gActiveEc;
}

}  // namespace zar::sim

namespace zar {

// Simulated builds: the ports lead to the active simulated EC. Without one,
// the bus reads as nothing connected.
uint8_t PortReadByte(uint16_t port)
{
    sim::SimEc* ec = sim::ActiveEc();
    return ec ? ec->PortRead(port) : 0xFF;
}

void PortWriteByte(uint16_t port, uint8_t value)
{
    if (sim::SimEc* ec = sim::ActiveEc())
        ec->PortWrite(port, value);
}

// No firmware runs beside the simulated EC: nothing to hold off. (zar-sim.efi
// must not raise the TPL either: the simulator writes its trace and SPI log
// in the middle of transactions.)
void HoldFirmwareEvents() {}
void ReleaseFirmwareEvents() {}

}  // namespace zar
