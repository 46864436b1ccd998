#include "RunProfile.h"

#include <algorithm>

#include "ec/EcChannel.h"
#include "flash/SpiOpcodes.h"

namespace zar::sweep {
namespace {

constexpr uint32_t Bit(Kind kind)
{
    return 1u << kind;
}

bool TakesAddress(uint8_t opcode)
{
    return SpiOpcodeProperties(opcode) & OP_ADDRESS;
}

bool IsAai(uint8_t opcode)
{
    return SpiOpcodeProperties(opcode) & OP_AAI;
}

}  // namespace

const char* KindName(int kind)
{
    static const char* const NAMES[KIND_COUNT + 1] = {
        "module check", "follow-mode entry", "identification", "EC sub-command", "opcode",
        "address",      "data byte",         "erase poll",     "program poll",   "status write",
        "fast read",    "AAI mode",          "kept block",     "before closing", "spread",
    };
    return kind >= 0 && kind <= KIND_COUNT ? NAMES[kind] : "?";
}

uint32_t Classifier::Access(bool write, uint8_t port, uint8_t value)
{
    if (write) {
        context_ = Write(port, value);
    } else if (port == EC_DATA_PORT && follow_) {
        context_ = acknowledged_ ? ReadKinds() : Bit(FOLLOW_ENTRY);
        acknowledged_ = true;
    }
    return context_ | (aai_ ? Bit(AAI_MODE) : 0);
}

uint32_t Classifier::Write(uint8_t port, uint8_t value)
{
    if (!follow_) {
        follow_ = port == EC_COMMAND_PORT && value == EC_CMD_FOLLOW_ENTER;
        return Bit(follow_ ? FOLLOW_ENTRY : MODULE_CHECK);
    }
    if (payload_ != 0)
        return Payload(value);
    switch (value) {
    case FOLLOW_START:
    case FOLLOW_END:
        EndTransaction();
        opcode_ = 0;
        break;
    case FOLLOW_OPCODE:
    case FOLLOW_WRITE:
        payload_ = value;
        break;
    case FOLLOW_READ:
        return ReadKinds();
    default:
        break;
    }
    return Bit(SUB_COMMAND);
}

// The byte after FOLLOW_OPCODE or FOLLOW_WRITE.
uint32_t Classifier::Payload(uint8_t value)
{
    uint8_t sub = payload_;
    payload_ = 0;
    if (sub == FOLLOW_OPCODE) {
        opcode_ = value;
        written_ = 0;
        aai_ = aai_ || IsAai(value);
        return Bit(OPCODE) | TransactionKinds();
    }
    // AAI commands after the first carry data only.
    bool address = TakesAddress(opcode_) && written_ < 3 && !(IsAai(opcode_) && aaiAddressSent_);
    ++written_;
    aaiAddressSent_ = aaiAddressSent_ || (address && written_ == 3 && IsAai(opcode_));
    bool data = !address && opcode_ != FAST_READ && opcode_ != RES;  // else a dummy byte
    bool changes = SpiOpcodeProperties(opcode_) & (OP_ERASES | OP_PROGRAMS);
    if (address && written_ == 1 && changes)
        inKeptBlock_ = value < 32 && (keptBlocks_ >> value & 1u);  // the address's top byte: its 64 KiB block
    return Bit(address ? ADDRESS : data ? DATA_BYTE : SUB_COMMAND) | TransactionKinds() | KeptBlockKind(changes);
}

uint32_t Classifier::KeptBlockKind(bool changes) const
{
    return changes && inKeptBlock_ ? Bit(KEPT_BLOCK) : 0;
}

// What the chip does when the transaction ends decides what the next status
// poll waits for.
void Classifier::EndTransaction()
{
    uint16_t properties = SpiOpcodeProperties(opcode_);
    busyInKeptBlock_ = inKeptBlock_ && (properties & (OP_ERASES | OP_PROGRAMS));
    if (properties & OP_ERASES) {
        busyWith_ = ERASE_POLL;
    } else if (properties & OP_PROGRAMS) {
        busyWith_ = PROGRAM_POLL;
    } else if (properties & OP_WRITES_STATUS) {
        busyWith_ = STATUS_WRITE;
    } else if (properties & OP_POLLS) {
        busyWith_ = KIND_COUNT;  // that poll saw the chip ready
    } else if (opcode_ == WRDI) {
        aai_ = false;
        aaiAddressSent_ = false;
    }
}

uint32_t Classifier::TransactionKinds() const
{
    switch (opcode_) {
    case RDID:
    case RES:
        return Bit(IDENTIFICATION);
    case WRSR:
    case EWSR:
        return Bit(STATUS_WRITE);
    default:
        return 0;
    }
}

uint32_t Classifier::ReadKinds() const
{
    if (opcode_ == FAST_READ)
        return Bit(FAST_READ_BYTE);
    if (opcode_ == RDSR && busyWith_ != KIND_COUNT)
        return Bit(busyWith_) | (busyInKeptBlock_ ? Bit(KEPT_BLOCK) : 0);
    return TransactionKinds() | Bit(SUB_COMMAND);
}

void Profiler::Access(bool write, uint8_t port, uint8_t value)
{
    uint32_t kinds = classifier_.Access(write, port, value);
    if (locating_ && index_ >= closingFrom_)
        kinds |= Bit(BEFORE_CLOSING);
    if (!locating_ && !write && port == EC_DATA_PORT && (kinds & Bit(FAST_READ_BYTE)))
        lastFastRead_ = index_;
    for (int k = 0; k < KIND_COUNT; ++k) {
        if (!(kinds & (1u << k)))
            continue;
        uint64_t n = counts_[k]++;
        if (locating_ && next_[k] < wanted_[k].size() && wanted_[k][next_[k]] == n) {
            ++next_[k];
            // A write is traced before the EC takes it: these are the counts before it.
            points_.push_back({ec_.Stats().Writes, ec_.Stats().Answers, k});
        }
    }
    ++index_;
}

void Profiler::Locate(int perKind)
{
    closingFrom_ = lastFastRead_ + 1;
    counts_[BEFORE_CLOSING] = index_ - closingFrom_;
    for (int k = 0; k < KIND_COUNT; ++k) {
        uint64_t count = counts_[k];
        uint64_t picks = std::min<uint64_t>(static_cast<uint64_t>(perKind), count);
        for (uint64_t m = 0; m < picks; ++m)
            wanted_[k].push_back((2 * m + 1) * count / (2 * picks));
        // And the kind's last access: the edge a spread pick misses (the
        // closing command is the last write before closing).
        if (picks > 0 && wanted_[k].back() != count - 1)
            wanted_[k].push_back(count - 1);
    }
    locating_ = true;
    classifier_ = Classifier{keptBlocks_};
    index_ = 0;
    std::fill(std::begin(counts_), std::end(counts_), 0);
}

}  // namespace zar::sweep
