#include "sim/SpiLog.h"

#include "ec/EcChannel.h"
#include "flash/SpiOpcodes.h"

namespace zar::sim {
namespace {

constexpr char HEX[] = "0123456789ABCDEF";

// A line being put together; text past SPI_LOG_LINE_MAX is dropped.
class LineText {
public:
    LineText& Text(const char* text)
    {
        while (*text)
            Put(*text++);
        return *this;
    }
    LineText& Hex(uint32_t value, int digits)
    {
        for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
            Put(HEX[(value >> shift) & 15]);
        return *this;
    }
    LineText& Decimal(uint64_t value)
    {
        char digits[20];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value);
        while (count)
            Put(digits[--count]);
        return *this;
    }
    // " AA BB CC": the kept bytes, then " ... (N bytes)" when there were more.
    LineText& Bytes(const uint8_t* bytes, uint64_t count, size_t kept)
    {
        for (size_t i = 0; i < count && i < kept; ++i)
            Text(" ").Hex(bytes[i], 2);
        if (count > kept)
            Text(" ... (").Decimal(count).Text(" bytes)");
        return *this;
    }
    void Send(SpiLogSink* out) { out->Line(text_, length_); }

private:
    void Put(char c)
    {
        if (length_ < sizeof text_)
            text_[length_++] = c;
    }

    char text_[SPI_LOG_LINE_MAX];
    size_t length_ = 0;
};

}  // namespace

void SpiLogDecoder::Access(bool write, uint8_t port, uint8_t value)
{
    if (port == EC_COMMAND_PORT) {
        if (write)
            CommandPort(value);
        // Status reads are the handshake itself: nothing to decode.
        return;
    }
    if (port != EC_DATA_PORT || mode_ == Mode::Closed) {
        Stray(write, port, value);
        return;
    }
    if (write)
        DataWrite(value);
    else
        DataRead(value);
}

void SpiLogDecoder::CommandPort(uint8_t value)
{
    switch (mode_) {
    case Mode::Normal:
        NormalCommand(value);
        break;
    case Mode::Follow:
        FollowCommand(value);
        break;
    case Mode::Closed:
        Stray(true, EC_COMMAND_PORT, value);  // the EC takes nothing after closing
        break;
    }
}

void SpiLogDecoder::NormalCommand(uint8_t value)
{
    // A new command abandons one still waiting for its bytes or answer, as
    // the EC does.
    FinishCommand(nullptr);
    switch (value) {
    case EC_CMD_READ_MEMORY:
        command_ = Command::MemoryHigh;
        break;
    case EC_CMD_FOLLOW_ENTER:
        mode_ = Mode::Follow;
        command_ = Command::EnterAnswer;
        break;
    case EC_CMD_FOLLOW_EXIT:
    case EC_CMD_FOLLOW_EXIT_ALT:
        mode_ = Mode::Closed;
        LineText().Text(value == EC_CMD_FOLLOW_EXIT ? "FOLLOW_EXIT" : "FOLLOW_EXIT_ALT").Send(out_);
        break;
    default:
        LineText().Text("EC_CMD ").Hex(value, 2).Send(out_);
        break;
    }
}

void SpiLogDecoder::FollowCommand(uint8_t value)
{
    if (expectByte_) {
        // The byte after FOLLOW_OPCODE or FOLLOW_WRITE goes out on the bus,
        // whatever its value; to the chip the first one is the opcode.
        expectByte_ = false;
        if (!open_) {
            Stray(true, EC_COMMAND_PORT, value);
            return;
        }
        if (writes_ < KEPT_WRITES)
            written_[writes_] = value;
        ++writes_;
        return;
    }
    // The follow-mode entry's answer was never read once the host goes on.
    if (command_ == Command::EnterAnswer)
        FinishCommand(nullptr);
    switch (value) {
    case FOLLOW_START:
        End(nullptr);
        Begin();
        break;
    case FOLLOW_OPCODE:
    case FOLLOW_WRITE:
        expectByte_ = true;
        break;
    case FOLLOW_READ:
        if (!open_) {
            Stray(true, EC_COMMAND_PORT, value);
            break;
        }
        if (readPending_)
            unanswered_ = true;
        readPending_ = true;
        break;
    case FOLLOW_END:
        End(nullptr);  // an END with nothing open changes nothing on the bus
        break;
    case EC_CMD_FOLLOW_EXIT:
    case EC_CMD_FOLLOW_EXIT_ALT:
        End(nullptr);
        mode_ = Mode::Closed;
        LineText().Text(value == EC_CMD_FOLLOW_EXIT ? "FOLLOW_EXIT" : "FOLLOW_EXIT_ALT").Send(out_);
        break;
    default:
        LineText().Text("FOLLOW_CMD ").Hex(value, 2).Send(out_);
        break;
    }
}

void SpiLogDecoder::DataWrite(uint8_t value)
{
    if (mode_ == Mode::Normal && command_ == Command::MemoryHigh) {
        memoryHigh_ = value;
        command_ = Command::MemoryLow;
    } else if (mode_ == Mode::Normal && command_ == Command::MemoryLow) {
        memoryLow_ = value;
        command_ = Command::MemoryAnswer;
    } else {
        Stray(true, EC_DATA_PORT, value);
    }
}

void SpiLogDecoder::DataRead(uint8_t value)
{
    if (command_ == Command::MemoryAnswer) {
        LineText().Text("READ_MEMORY ").Hex(memoryHigh_, 2).Hex(memoryLow_, 2).Text(" -> ").Hex(value, 2).Send(out_);
        command_ = Command::None;
    } else if (command_ == Command::EnterAnswer) {
        LineText().Text("FOLLOW_ENTER -> ").Hex(value, 2).Send(out_);
        command_ = Command::None;
    } else if (mode_ == Mode::Follow && readPending_) {
        readPending_ = false;
        if (reads_ < KEPT_READS)
            read_[reads_] = value;
        lastRead_ = value;
        ++reads_;
    } else {
        Stray(false, EC_DATA_PORT, value);
    }
}

// Writes the normal-mode command still in progress, if any, with its note.
void SpiLogDecoder::FinishCommand(const char* note)
{
    LineText line;
    switch (command_) {
    case Command::None:
        return;
    case Command::MemoryHigh:
        line.Text("READ_MEMORY (incomplete)");
        break;
    case Command::MemoryLow:
        line.Text("READ_MEMORY ").Hex(memoryHigh_, 2).Text(" (incomplete)");
        break;
    case Command::MemoryAnswer:
        line.Text("READ_MEMORY ").Hex(memoryHigh_, 2).Hex(memoryLow_, 2).Text(" (no answer)");
        break;
    case Command::EnterAnswer:
        line.Text("FOLLOW_ENTER (no answer)");
        break;
    }
    if (note)
        line.Text(note);
    line.Send(out_);
    command_ = Command::None;
}

void SpiLogDecoder::Begin()
{
    open_ = true;
    readPending_ = false;
    unanswered_ = false;
    writes_ = 0;
    reads_ = 0;
}

// Writes the open transaction, if any, and closes it.
void SpiLogDecoder::End(const char* note)
{
    if (!open_)
        return;
    open_ = false;
    expectByte_ = false;
    bool unanswered = unanswered_ || readPending_;
    readPending_ = false;

    LineText line;
    if (writes_ == 0) {
        line.Text("(no opcode)");
        if (reads_)
            line.Text(" ->").Bytes(read_, reads_, KEPT_READS);
    } else {
        uint8_t opcode = written_[0];
        const SpiOpcodeInfo* entry = FindSpiOpcode(opcode);
        uint16_t shape = entry ? entry->Properties : 0;
        if (entry)
            line.Text(entry->Name);
        else
            line.Hex(opcode, 2);

        uint64_t next = 1;  // the first written byte not yet shown
        bool addressed = (shape & OP_ADDRESS) && !((shape & OP_AAI) && aai_);
        if (addressed && writes_ >= 4) {
            line.Text(" ").Hex(written_[1], 2).Hex(written_[2], 2).Hex(written_[3], 2);
            next = 4;
            if ((shape & OP_DUMMY) && writes_ >= 5)
                next = 5;
        }
        if (shape & OP_AAI) {
            if (addressed && next == 4)
                aai_ = true;
        } else if (opcode == WRDI) {
            aai_ = false;
        }

        uint64_t rest = writes_ - next;
        // Programmed data is counted, array reads too, a status poll folded.
        if (shape & OP_PROGRAMS)
            line.Text(" +").Decimal(rest);
        else if (rest)
            line.Bytes(written_ + next, rest, next < KEPT_WRITES ? KEPT_WRITES - next : 0);

        if (shape & OP_POLLS) {
            if (reads_)
                line.Text(" x").Decimal(reads_).Text(" -> ").Hex(lastRead_, 2);
        } else if (shape & OP_READS_ARRAY) {
            line.Text(" +").Decimal(reads_);
        } else if (reads_) {
            line.Text(" ->").Bytes(read_, reads_, KEPT_READS);
        }
    }
    if (unanswered)
        line.Text(" (no answer)");
    if (note)
        line.Text(note);
    line.Send(out_);
}

void SpiLogDecoder::Stray(bool write, uint8_t port, uint8_t value)
{
    LineText().Text(write ? "? out " : "? in ").Hex(port, 2).Text(" ").Hex(value, 2).Send(out_);
}

void SpiLogDecoder::Finish()
{
    FinishCommand(nullptr);
    End(" (open at end)");
}

// ---- SpiLogFile -------------------------------------------------------------

void SpiLogFile::Line(const char* text, size_t length)
{
    static const char NEWLINE = '\n';
    out_.Write(text, length < SPI_LOG_LINE_MAX ? length : SPI_LOG_LINE_MAX);
    out_.Write(&NEWLINE, 1);
}

// ---- Trace text -------------------------------------------------------------

namespace {

bool HexDigit(char c, uint8_t* value)
{
    if (c >= '0' && c <= '9')
        *value = static_cast<uint8_t>(c - '0');
    else if (c >= 'a' && c <= 'f')
        *value = static_cast<uint8_t>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
        *value = static_cast<uint8_t>(c - 'A' + 10);
    else
        return false;
    return true;
}

bool HexByte(const char* text, uint8_t* value)
{
    uint8_t high, low;
    if (!HexDigit(text[0], &high) || !HexDigit(text[1], &low))
        return false;
    *value = static_cast<uint8_t>(high << 4 | low);
    return true;
}

}  // namespace

bool ParseTraceLine(const char* text, size_t length, bool* write, uint8_t* port, uint8_t* value)
{
    if (length > 0 && text[length - 1] == '\r')
        --length;
    size_t at;
    if (length == 8 && text[0] == 'i' && text[1] == 'n') {
        *write = false;
        at = 2;
    } else if (length == 9 && text[0] == 'o' && text[1] == 'u' && text[2] == 't') {
        *write = true;
        at = 3;
    } else {
        return false;
    }
    return text[at] == ' ' && HexByte(text + at + 1, port) && text[at + 3] == ' ' && HexByte(text + at + 4, value);
}

void TraceTextReader::Feed(const char* data, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (data[i] == '\n') {
            EndLine();
            continue;
        }
        if (length_ < TRACE_LINE_MAX)
            line_[length_] = data[i];
        ++length_;  // counts on past the bound, so a long line stays bad
    }
}

void TraceTextReader::Finish()
{
    if (length_ > 0)
        EndLine();
}

void TraceTextReader::EndLine()
{
    ++lines_;
    bool write;
    uint8_t port, value;
    if (length_ <= TRACE_LINE_MAX && ParseTraceLine(line_, length_, &write, &port, &value)) {
        accesses_->Access(write, port, value);
    } else {
        ++badLines_;
        if (problems_)
            problems_->BadLine(lines_, line_, length_ < TRACE_LINE_MAX ? length_ : TRACE_LINE_MAX);
    }
    length_ = 0;
}

}  // namespace zar::sim
