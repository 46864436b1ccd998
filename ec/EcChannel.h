// The EC host channel: the ACPI EC port handshake, the EC commands the
// flasher uses and the follow-mode sub-commands that carry SPI transactions.
// This is the only code that touches the EC ports.
#pragma once

#include <stdint.h>

namespace zar {

// Port numbers (ACPI embedded controller interface)
constexpr uint8_t EC_DATA_PORT = 0x62;
constexpr uint8_t EC_COMMAND_PORT = 0x66;  // written: commands
constexpr uint8_t EC_STATUS_PORT = 0x66;   // read: status

// The channel's ports: the ACPI EC's, unless a test moves them.
struct EcPorts {
    uint8_t Data;
    uint8_t Command;
    uint8_t Status;
};
constexpr EcPorts ACPI_EC_PORTS = {EC_DATA_PORT, EC_COMMAND_PORT, EC_STATUS_PORT};

// Status register bits
constexpr uint8_t EC_STATUS_OBF = 0x01;  // output buffer full: a byte waits in the data port
constexpr uint8_t EC_STATUS_IBF = 0x02;  // input buffer full: the EC has not taken the last byte

// EC commands
enum EcCommand : uint8_t {
    EC_CMD_READ_MEMORY = 0x92,      // + address high, low on the data port; one byte back
    EC_CMD_FOLLOW_ENTER = 0xDC,     // one byte back, EC_FOLLOW_ACK when follow mode is on
    EC_CMD_FOLLOW_EXIT = 0xFE,      // leave follow mode; nothing back
    EC_CMD_FOLLOW_EXIT_ALT = 0xFC,  // leave follow mode, alternative exit; nothing back
};

constexpr uint8_t EC_FOLLOW_ACK = 0x33;

// Follow-mode sub-commands, written to the command port
enum FollowCommand : uint8_t {
    FOLLOW_START = 0x01,   // end any open SPI transaction, begin a new one (chip select)
    FOLLOW_OPCODE = 0x02,  // the next command-port byte is the SPI opcode
    FOLLOW_WRITE = 0x03,   // the next command-port byte is an address, dummy or data byte
    FOLLOW_READ = 0x04,    // clock one byte in from the chip into the data port (sets OBF)
    FOLLOW_END = 0x05,     // end the open SPI transaction (chip deselect)
};

// Which bounded wait gave up. Once one has, the channel sends nothing more
// and the run ends through its timeout exit (status EXIT_NO_ANSWER).
enum class WaitFault : uint8_t {
    None,
    EcInputBuffer,   // IBF never cleared
    EcOutputBuffer,  // OBF never set
    FlashBusy,       // SR_WIP never cleared
    WriteEnable,     // SR_WEL never reached the wanted state
};

// How many status reads (EC waits) or status polls (flash waits) pass before
// a wait gives up.
//
// EC waits: the EC takes a byte or answers within microseconds, at worst a
// few milliseconds while it switches into follow mode. One status read is one
// LPC I/O cycle, 0.5 to 1 us; 2,000,000 reads is therefore 1 to 2 seconds,
// several hundred times the slowest answer.
//
// Flash waits: the slowest operation of any part in the part table is a
// 64 KiB block erase (0xD8), which /update sends to every part whose row
// lists one. Its maximum is 3 s on the ST M25P40 and the Spansion S25FL004A
// (their sheets' first pages give 1 s and 0.5 s typical; 3 s is the family's
// maximum as sim/ChipCatalog.cpp takes it, marked unverified there), 2 s on
// the parts whose full AC tables were reached (Winbond W25Q32FV rev. J, W25Q64FV,
// W25Q128FV; Macronix KH25L8005 PM1307) and 1 s on the W25X40CL; SST's is
// 25 ms (DS25044A). The documents are listed in the catalog and in the
// chip references. One poll is one FOLLOW_READ: three accesses for the
// sub-command, at least one OBF read and the data read, so five accesses.
// Even on a bus four times faster than LPC (0.25 us an access) a poll takes
// 1.25 us and 3 s is 2,400,000 polls; 8,000,000 polls leave a margin of more
// than three, and on LPC (40 s or more) far more. The catalog test holds
// every part's maxima to that margin.
struct WaitLimits {
    uint32_t EcStatusReads;
    uint32_t FlashPolls;
};

constexpr WaitLimits DEFAULT_WAIT_LIMITS = {2000000, 8000000};

// Tests and the simulator front end may lower the limits; 0 means default.
void SetWaitLimits(WaitLimits limits);
WaitLimits CurrentWaitLimits();

void EcSendCommand(uint8_t value);  // command port, with the IBF handshake
void EcWriteData(uint8_t value);    // data port, with the IBF handshake
uint8_t EcReadData();               // wait for OBF, read the data port
uint8_t EcFollowRead();             // FOLLOW_READ, then EcReadData
// The two EC commands with data each run Uninterrupted
// (platform/Uninterrupted.h), from the command byte to the answer.
uint8_t EcReadMemory(uint8_t high, uint8_t low);
// Returns the EC's answer (EC_FOLLOW_ACK when follow mode is on); another
// answer is reported, and the run goes on all the same.
uint8_t EcEnterFollowMode();

// Where the run is, in its own terms: a stage it numbers itself and a mark
// within it (the flasher's block counter, an address). The channel only keeps it.
struct EcPlace {
    uint8_t Stage;
    uint32_t Mark;
};

// Which wait gave up, and where the run was then (the place last marked).
struct EcFault {
    WaitFault Wait;
    EcPlace Place;
};

// A channel on ports with no wait given up and place 0: every run opens one
// before it touches the EC.
void EcOpenChannel(EcPorts ports = ACPI_EC_PORTS);
EcPorts EcChannelPorts();
EcFault EcChannelFault();
// Where the run is now; a wait that gives up keeps it.
void EcMarkPlace(EcPlace place);

// True once a wait has given up: from then on the channel sends nothing and
// reads return 0xFF.
bool EcChannelDead();

// Records that a wait gave up (the first one wins) and kills the channel.
void EcGiveUp(WaitFault fault);
// Takes the give-up back: the channel works again. For the one wait the run
// may go on after, the answer to follow-mode entry.
void EcTakeBackGiveUp();
}  // namespace zar
