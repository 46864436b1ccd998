// The run's record: a header, the console text as the run printed it, and a
// one-line summary, appended to the log named by "/log FILE".
//
//   ZAR-RUN date=2026-12-07 time=14:03:22 version=3.5.0 manufacturer="ACME" product="X1" serial="PF3ABC12"
//   ZAR-CMD zar /log zar.log ec.bin
//     (the console text, each line indented by two spaces)
//   ZAR-END serial="PF3ABC12" image="ec.bin" size=163840 checksum=1A2B3C chip="W25X40" maker="Winbond"
//           id=EF301300 written=3 unchanged=0 failed=0 duration=41230ms image-crc32=5D2C81F3
//           station="LINE-3" module="KBC1126" status=0 (OK) close=FE (FOLLOW_EXIT)
//
// (the summary is one line), and, only when the EC did not take the closing
// command, the text printed after it and "ZAR-AFTER serial=... status=4
// (NO_ANSWER)". Quoted values are text the firmware or the user
// gave, with a backslash written as \\ and '"', control and non-ASCII bytes as
// \xHH, so that every value reads back exactly; bare words are the flasher's
// own. Lines end with CR LF, and a record begins on a line of its own
// whatever the log's last byte was. Only the record's own lines begin with
// "ZAR-", so console text can never pass for one.
#include "Applications/Main/RunRecord.h"

#include "Applications/Main/LeadingWords.h"
#include "Applications/Main/Main.h"
#include "Applications/Main/RunRecordWriter.h"
#include "Applications/Main/RunState.h"
#include "Applications/Main/Verbs.h"
#include "Applications/Main/Version.h"
#include "ec/EcChannel.h"
#include "flash/FlashPrimitives.h"
#include "flash/PartTable.h"
#include "platform/Format.h"
#include "platform/Machine.h"
#include "platform/Platform.h"
#include "platform/Text.h"

namespace zar {
namespace {

constexpr char LOG_MAGIC[] = "ZAR-RUN ";  // every log begins with a record
constexpr size_t LOG_MAGIC_LENGTH = sizeof LOG_MAGIC - 1;

using namespace record;

// The first word after the leading words and a verb that takes one: the
// image, or the file that /read writes. /probe has none.
const char* ImageWord(const Arguments& line)
{
    int at = SkipLeadingWords(line);
    const char* word = line.At(at);
    if (word == nullptr || VerbIs(word, "/probe"))
        return nullptr;
    if (IsVerb(word))
        return line.At(at + 1);
    return word;
}

bool NeedsQuotes(const char* word)
{
    if (word[0] == 0)
        return true;
    for (; *word; ++word) {
        if (*word == ' ' || *word == '"')
            return true;
    }
    return false;
}

void WriteHeader(const Arguments& line)
{
    WallClock clock;
    Put("ZAR-RUN");
    if (ReadWallClock(&clock)) {
        PutCount("date", clock.Year, 10, 4);
        Put("-");
        PutNumber(clock.Month, 10, 2);
        Put("-");
        PutNumber(clock.Day, 10, 2);
        PutCount("time", clock.Hour, 10, 2);
        Put(":");
        PutNumber(clock.Minute, 10, 2);
        Put(":");
        PutNumber(clock.Second, 10, 2);
    } else {
        Put(" date=unknown time=unknown");
    }
    Put(" version=");
    Put(ZAR_VERSION);

    MachineIdentity machine;
    ReadMachineIdentity(&machine);
    PutField("manufacturer", machine.Manufacturer, "unknown");
    PutField("product", machine.ProductName, "unknown");
    PutField("serial", machine.SerialNumber, "unknown");
    MemCopy(gRecord.Serial, machine.SerialNumber, sizeof gRecord.Serial);
    EndLine();

    // The command line as the Shell would take it again.
    Put("ZAR-CMD");
    for (int i = 0; i < line.Count(); ++i) {
        const char* word = line.At(i) ? line.At(i) : "";
        Put(" ");
        if (NeedsQuotes(word)) {
            Put("\"");
            PutEscaped(word);
            Put("\"");
        } else {
            PutEscaped(word);
        }
    }
    EndLine();
}

const char* StatusName(ExitStatus status)
{
    switch (status) {
    case EXIT_OK:
        return "OK";
    case EXIT_MODULE_MISMATCH:
        return RunState.Stopped ? "STOPPED" : "MODULE_MISMATCH";
    case EXIT_BAD_IMAGE:
        return RunState.OutOfMemory ? "OUT_OF_MEMORY" : "BAD_IMAGE";
    case EXIT_FLASH_FAILED:
        return "FLASH_FAILED";
    case EXIT_NO_ANSWER:
        return "NO_ANSWER";
    case EXIT_WRITE_PROTECTED:
        return "WRITE_PROTECTED";
    default:
        break;
    }
    return "UNKNOWN";
}

void PutStatus(ExitStatus status)
{
    PutCount("status", static_cast<uint32_t>(status));
    Put(" (");
    Put(StatusName(status));
    Put(")");
}

// The chip as identification left it: none before FlashIdentify ran.
void PutChip()
{
    const uint8_t* id = RunState.Chip.Id;
    bool identified = RunState.Chip.ByRes || id[0] || id[1] || id[2] || id[3];
    if (!identified) {
        Put(" chip=none");
        return;
    }
    const ChipIdentity& chip = RunState.Chip.Known;
    if (!chip.Answered)
        Put(" chip=absent");
    else
        PutField("chip", chip.Part ? chip.Part->Name : nullptr, "unknown");
    if (chip.Answered)
        PutField("maker", chip.Maker, "unknown");
    Put(RunState.Chip.ByRes ? " id=res:" : " id=");
    for (int i = 0; i < 4; ++i)
        PutNumber(id[i], 16, 2);
}

// An /update's sectors, and the erases and bytes programmed that went out
// on the bus.
void PutUpdateTally()
{
    const UpdateTally& update = RunState.Update;
    if (!update.Active)
        return;
    PutCount("sectors-written", static_cast<uint32_t>(update.SectorsWritten));
    PutCount("sectors-equal", static_cast<uint32_t>(update.SectorsEqual));
    PutCount("sectors-kept", static_cast<uint32_t>(update.SectorsKept));
    FlashBusTally bus = FlashBusSent();  // what went out, on every road
    PutCount("erase-64k", bus.BlockErases);
    PutCount("erase-4k", bus.SectorErases);
    PutCount("programmed", bus.ProgramBytes);
}

// Milliseconds since the record began, by the platform's clock.
void PutDuration()
{
    uint64_t now = 0;
    if (!gRecord.ClockRead || !ReadMilliseconds(&now) || now < gRecord.StartMs) {
        Put(" duration=unknown");
        return;
    }
    uint64_t elapsed = now - gRecord.StartMs;
    PutCount("duration", elapsed > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(elapsed));
    Put("ms");
}

// The image file's CRC-32 (none without an image, unknown when it could not
// be read to its end), the station, and the EC's module name as it answered,
// without its trailing blanks, when the run asked for it.
void PutRunFacts()
{
    PutDuration();
    // An image that was opened but not read whole (too large, unreadable,
    // no memory for it) still holds the file or the buffer here.
    if (RunState.ImageCrcKnown)
        PutCount("image-crc32", RunState.ImageCrc, 16, 8);
    else if (RunState.ImageFile != nullptr || RunState.Image != nullptr)
        Put(" image-crc32=unknown");
    else
        Put(" image-crc32=none");
    PutField("station", gRecord.Station, "\"\"");
    if (!RunState.EcModuleNameRead)
        return;
    size_t length = MODULE_NAME_LENGTH;
    while (length > 0 && (RunState.EcModuleName[length - 1] == ' ' || RunState.EcModuleName[length - 1] == 0))
        --length;
    Put(" module=\"");
    PutEscapedBytes(RunState.EcModuleName, length);
    Put("\"");
}

void WriteSummary(ExitStatus status, uint8_t command)
{
    EndOpenLine();
    Put("ZAR-END");
    PutField("serial", gRecord.Serial, "unknown");
    PutField("image", gRecord.Image, "none");
    PutCount("size", static_cast<uint32_t>(RunState.ImageSize));
    PutCount("checksum", RunState.Checksum, 16, 4);
    PutChip();
    PutCount("written", static_cast<uint32_t>(RunState.BlocksWritten));
    PutCount("unchanged", static_cast<uint32_t>(RunState.BlocksUnchanged));
    PutCount("failed", static_cast<uint32_t>(RunState.BlocksFailed));
    PutUpdateTally();
    PutRunFacts();
    PutStatus(status);
    if (command == 0) {
        Put(" close=none");
    } else {
        PutCount("close", command, 16, 2);
        Put(command == EC_CMD_FOLLOW_EXIT ? " (FOLLOW_EXIT)" : command == EC_CMD_FOLLOW_EXIT_ALT ? " (FOLLOW_EXIT_ALT)" : "");
    }
    EndLine();
}

// Hands what is gathered to the file, flushes and closes it. False when any
// of it failed since the log was opened.
bool CloseLog()
{
    Drain();
    bool good = !gRecord.Failed && !gRecord.Cut && FileFlush(gRecord.File) == 0;
    good = FileClose(gRecord.File) == 0 && good;
    gRecord.File = nullptr;
    gRecord.Used = 0;
    gRecord.Cut = false;
    return good;
}

// Said at the very end of the run, so that it is among the console's last lines.
void SayRecordLost(ExitStatus status)
{
    Print(u"\n\rLOG FILE ERROR!! The record of this run could not be written to %a.\n", gRecord.Path);
    if (RunState.BlocksWritten > 0)
        Print(u"The EC was written all the same: the run ends with the flashing's own status, %d, and only its "
              u"record is missing or cut short in %a.\n",
              status, gRecord.Path);
}

// Written at the hand-back, or at the end of a run that had none.
void CloseRecord(ExitStatus status, uint8_t command)
{
    WriteSummary(status, command);
    gRecord.HandedBack = true;
    gRecord.RecordedStatus = status;
    gRecord.LineOpen = false;
    if (!CloseLog())
        gRecord.Lost = true;
}

// The record said one status, the run ended with another: the closing
// command was not taken. The log gets the text printed since, and the
// status the run ends with.
void AmendRecord(ExitStatus status)
{
    EndOpenLine();
    gRecord.File = FileOpen(gRecord.Path, "ab");
    if (gRecord.File == nullptr) {
        gRecord.Lost = true;
        return;
    }
    bool cut = gRecord.Cut;
    gRecord.Cut = false;
    if (cut)
        Put("  (console text cut)\r\n");
    Put("ZAR-AFTER");
    PutField("serial", gRecord.Serial, "unknown");
    PutStatus(status);
    EndLine();
    if (!CloseLog())
        gRecord.Lost = true;
}

enum class LogFile { Missing, Log, NotALog };

// How an existing log ends: a record cut short leaves its last line open.
bool EndsWithLineBreak(PlatformFile* file)
{
    char last = '\n';
    if (FileSeek(file, -1, FILE_SEEK_END) != 0 || FileRead(&last, 1, 1, file) != 1)
        return true;  // empty
    return last == '\n';
}

// A file that is already there must be a log: one word wrong on the command
// line must not append text to an image. Anything that does not open for
// reading (a device, a folder, a link to nowhere) is never taken as missing:
// the log is then created only where nothing has its name.
LogFile LookAtLog(const char* path, bool* lineOpen)
{
    PlatformFile* file = FileOpen(path, "rb");
    if (file == nullptr)
        return LogFile::Missing;
    *lineOpen = !EndsWithLineBreak(file);
    char head[LOG_MAGIC_LENGTH];
    size_t got = 0;
    bool empty = FileSeek(file, 0, FILE_SEEK_END) == 0 && FileTell(file) == 0;
    if (!empty && FileSeek(file, 0, FILE_SEEK_SET) == 0)
        got = FileRead(head, 1, sizeof head, file);
    FileClose(file);
    if (empty)
        return LogFile::Log;
    if (got != sizeof head)
        return LogFile::NotALog;
    for (size_t i = 0; i < sizeof head; ++i) {
        if (head[i] != LOG_MAGIC[i])
            return LogFile::NotALog;
    }
    return LogFile::Log;
}

}  // namespace

bool RunRecordBegin(const char* path, const Arguments& fullCommandLine)
{
    MemSet(&gRecord, 0, sizeof gRecord);
    gRecord.ClockRead = ReadMilliseconds(&gRecord.StartMs);
    ReadStationName(gRecord.Station);
    gRecord.Path = path;
    gRecord.Image = ImageWord(fullCommandLine);
    bool lineOpen = false;
    LogFile found = LookAtLog(path, &lineOpen);
    if (found == LogFile::NotALog) {
        Print(u"\nLOG FILE ERROR!! %a is not a ZAR log: nothing was appended to it, nothing was sent to the EC.\n",
              path);
        return false;
    }
    gRecord.File = FileOpen(path, found == LogFile::Missing ? "xb" : "ab");
    if (gRecord.File == nullptr && found == LogFile::Missing) {
        Print(u"\nLOG FILE ERROR!! %a can't be created (something other than a file has that name, or its folder "
              u"can't take it): nothing was sent to the EC.\n",
              path);
        return false;
    }
    if (gRecord.File == nullptr) {
        Print(u"\nLOG FILE ERROR!! %a can't be opened for appending: nothing was sent to the EC.\n", path);
        return false;
    }
    if (lineOpen)
        Put("\r\n");
    WriteHeader(fullCommandLine);
    Drain();
    if (gRecord.Failed || gRecord.Cut || FileFlush(gRecord.File) != 0) {
        FileClose(gRecord.File);
        gRecord.File = nullptr;
        Print(u"\nLOG FILE ERROR!! %a can't be written: nothing was sent to the EC.\n", path);
        return false;
    }
    gRecord.Active = true;
    SetConsoleTap(TapConsole);
    return true;
}

void RunRecordHandBack(uint8_t command, ExitStatus status)
{
    if (gRecord.Active && !gRecord.HandedBack)
        CloseRecord(status, command);
}

void RunRecordEnd(ExitStatus status)
{
    if (!gRecord.Active)
        return;
    if (!gRecord.HandedBack)
        CloseRecord(status, 0);
    else if (status != gRecord.RecordedStatus)
        AmendRecord(status);
    SetConsoleTap(nullptr);
    gRecord.Active = false;
    if (gRecord.Lost)
        SayRecordLost(status);
}

}  // namespace zar
