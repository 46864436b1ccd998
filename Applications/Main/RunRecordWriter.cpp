#include "Applications/Main/RunRecordWriter.h"

#include "platform/Format.h"

namespace zar::record {

RecordState gRecord;

void Drain()
{
    if (gRecord.File == nullptr || gRecord.Used == 0)
        return;
    if (FileWrite(gRecord.Buffer, 1, gRecord.Used, gRecord.File) != gRecord.Used)
        gRecord.Failed = true;
    gRecord.Used = 0;
}

void PutBytes(const char* bytes, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (gRecord.Used == BUFFER_BYTES)
            Drain();
        if (gRecord.Used == BUFFER_BYTES) {
            gRecord.Cut = true;
            return;
        }
        gRecord.Buffer[gRecord.Used++] = bytes[i];
    }
}

void Put(const char* text)
{
    size_t length = 0;
    while (text[length])
        ++length;
    PutBytes(text, length);
}

void PutNumber(uint32_t value, uint32_t base, int minDigits)
{
    char digits[12];
    int count = 0;
    do {
        uint32_t digit = value % base;
        digits[count++] = static_cast<char>(digit < 10 ? '0' + digit : 'A' + digit - 10);
        value /= base;
    } while (value != 0 || count < minDigits);
    while (count > 0)
        PutBytes(&digits[--count], 1);
}

void PutEscaped(const char* text)
{
    size_t length = 0;
    while (text[length])
        ++length;
    PutEscapedBytes(reinterpret_cast<const uint8_t*>(text), length);
}

void PutEscapedBytes(const uint8_t* bytes, size_t count)
{
    static constexpr char HEX[] = "0123456789ABCDEF";
    for (size_t i = 0; i < count; ++i) {
        uint8_t byte = bytes[i];
        if (byte == '\\') {
            Put("\\\\");
        } else if (byte >= 0x20 && byte < 0x7F && byte != '"') {
            PutBytes(reinterpret_cast<const char*>(&byte), 1);
        } else {
            char escape[4] = {'\\', 'x', HEX[byte >> 4], HEX[byte & 0x0F]};
            PutBytes(escape, 4);
        }
    }
}

void PutField(const char* key, const char* text, const char* fallback)
{
    Put(" ");
    Put(key);
    Put("=");
    if (text == nullptr || text[0] == 0) {
        Put(fallback);
        return;
    }
    Put("\"");
    PutEscaped(text);
    Put("\"");
}

void PutCount(const char* key, uint32_t value, uint32_t base, int minDigits)
{
    Put(" ");
    Put(key);
    Put("=");
    PutNumber(value, base, minDigits);
}

void EndLine()
{
    Put("\r\n");
    gRecord.LineOpen = false;
}

void TapConsole(const char16_t* text, size_t units)
{
    for (size_t i = 0; i < units; ++i) {
        char16_t unit = text[i];
        if (unit == u'\n' && gRecord.AfterCr) {
            gRecord.AfterCr = false;
            continue;
        }
        gRecord.AfterCr = unit == u'\r';
        if (unit == u'\r' || unit == u'\n') {
            EndLine();
            continue;
        }
        if (!gRecord.LineOpen) {
            Put("  ");
            gRecord.LineOpen = true;
        }
        if (unit < 0x20 || (unit >= 0x7F && unit < 0xA0)) {
            Put("?");
            continue;
        }
        bool pair = unit >= 0xD800 && unit < 0xDC00 && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000;
        char bytes[8];
        PutBytes(bytes, Utf16ToUtf8(text + i, pair ? 2 : 1, bytes, sizeof bytes));
        i += pair ? 1 : 0;
    }
}

void EndOpenLine()
{
    if (gRecord.LineOpen)
        EndLine();
    gRecord.AfterCr = false;
}

}  // namespace zar::record
