// The profile of a good run, from which the sweep picks its fault points:
// every port access sorted into kinds, and for a chosen access what the EC
// had counted before it (the writes and answers its fault settings count).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "sim/SimEc.h"

namespace zar::sweep {

enum Kind {
    MODULE_CHECK,
    FOLLOW_ENTRY,
    IDENTIFICATION,
    SUB_COMMAND,
    OPCODE,
    ADDRESS,
    DATA_BYTE,
    ERASE_POLL,
    PROGRAM_POLL,
    STATUS_WRITE,
    FAST_READ_BYTE,
    AAI_MODE,
    KEPT_BLOCK,      // an erase or program in a block that holds a kept range, and its polls
    BEFORE_CLOSING,  // after the last verify's last byte
    KIND_COUNT,      // as a point's kind: spread evenly, not picked by kind
};

const char* KindName(int kind);

// Follows a run's port accesses and says which kinds each belongs to (a bit
// mask). Status reads and data reads belong to the byte they wait for or
// answer.
class Classifier {
public:
    // keptBlocks: bit b for a kept range in 64 KiB block b (the first 32).
    explicit Classifier(uint32_t keptBlocks = 0) : keptBlocks_(keptBlocks) {}
    uint32_t Access(bool write, uint8_t port, uint8_t value);

private:
    uint32_t Write(uint8_t port, uint8_t value);
    uint32_t Payload(uint8_t value);
    void EndTransaction();
    uint32_t TransactionKinds() const;
    uint32_t ReadKinds() const;
    uint32_t KeptBlockKind(bool changes) const;

    uint32_t keptBlocks_;
    bool inKeptBlock_ = false;  // the open erase or program (or AAI sequence) is aimed at one
    bool busyInKeptBlock_ = false;
    bool follow_ = false;
    bool acknowledged_ = false;
    bool aai_ = false;
    bool aaiAddressSent_ = false;
    uint8_t payload_ = 0;
    uint8_t opcode_ = 0;
    int written_ = 0;
    Kind busyWith_ = KIND_COUNT;
    uint32_t context_ = 0;
};

// Where the EC stops, as its fault settings count it: IBF sticks at the write
// after Writes, OBF never sets for the answer after Answers.
struct Point {
    uint64_t Writes;
    uint64_t Answers;
    int Kind;
};

// Watches two good runs: the first counts the accesses of each kind, the
// second (after Locate) finds perKind of each kind, spread over its
// occurrences, and notes the EC's counts there.
class Profiler : public sim::TraceSink {
public:
    Profiler(sim::SimEc& ec, uint32_t keptBlocks) : ec_(ec), keptBlocks_(keptBlocks), classifier_(keptBlocks) {}
    void Access(bool write, uint8_t port, uint8_t value) override;

    void Locate(int perKind);
    uint64_t Accesses() const { return index_; }
    const std::vector<Point>& Points() const { return points_; }

private:
    sim::SimEc& ec_;
    uint32_t keptBlocks_;
    Classifier classifier_;
    bool locating_ = false;
    uint64_t index_ = 0;
    uint64_t lastFastRead_ = 0;
    uint64_t closingFrom_ = 0;
    uint64_t counts_[KIND_COUNT] = {};
    std::vector<uint64_t> wanted_[KIND_COUNT];  // occurrence numbers, ascending
    size_t next_[KIND_COUNT] = {};
    std::vector<Point> points_;
};

}  // namespace zar::sweep
