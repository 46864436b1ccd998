// The record's writer: bytes gather in a buffer and go to the log when it is
// full, and the console's text becomes the record's indented lines. The
// record's parts in RunRecord.cpp are written through it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "Applications/Main/ExitStatus.h"
#include "platform/Machine.h"
#include "platform/Platform.h"

namespace zar::record {

constexpr size_t BUFFER_BYTES = 4096;

// Constant-initialised; RunRecordBegin clears it.
struct RecordState {
    bool Active;  // "/log" was given and the log took the header
    const char* Path;
    const char* Image;
    char Serial[IDENTITY_TEXT_MAX + 1];
    char Station[IDENTITY_TEXT_MAX + 1];
    bool ClockRead;     // StartMs holds ReadMilliseconds at the record's start
    uint64_t StartMs;

    // The log while the run goes on. Bytes gather in Buffer and go to the file
    // when it is full. After the hand-back the file is closed and Buffer keeps
    // the console text that follows, in case the status changes after all.
    PlatformFile* File;
    bool Failed;  // a write or flush failed
    bool Cut;     // text dropped: no file and Buffer full
    char Buffer[BUFFER_BYTES];
    size_t Used;

    // Console text into lines
    bool LineOpen;
    bool AfterCr;

    bool HandedBack;
    ExitStatus RecordedStatus;
    bool Lost;  // the record could not be written whole
};

extern RecordState gRecord;

void Drain();
void PutBytes(const char* bytes, size_t count);
void Put(const char* text);
void PutNumber(uint32_t value, uint32_t base, int minDigits);
// Text as the record quotes it: a backslash as \\, '"', control and non-ASCII
// bytes as \xHH, so that every value reads back exactly.
void PutEscaped(const char* text);
void PutEscapedBytes(const uint8_t* bytes, size_t count);
// key="text", or key=fallback when there is no text.
void PutField(const char* key, const char* text, const char* fallback);
void PutCount(const char* key, uint32_t value, uint32_t base = 10, int minDigits = 1);
void EndLine();
// The console's text as lines: CR LF, a lone CR or a lone LF each end one.
void TapConsole(const char16_t* text, size_t units);
void EndOpenLine();

}  // namespace zar::record
