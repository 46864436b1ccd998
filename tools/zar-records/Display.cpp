#include "tools/zar-records/Display.h"

#include <cstdio>

namespace zar::records {
namespace {

// The length of the well-formed UTF-8 sequence at text[at] that is not a
// control character, or 0 (RFC 3629: no overlong forms, no surrogates).
size_t PrintableSequence(const std::string& text, size_t at)
{
    auto byte = [&](size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u; };
    unsigned lead = byte(at);
    if (lead >= 0x20 && lead < 0x7F)
        return 1;
    size_t length = lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3 : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(at + k) & 0xC0) != 0x80)
            return 0;
    }
    unsigned second = byte(at + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second >= 0x90) || (lead == 0xC2 && second < 0xA0))  // C1 controls
        return 0;
    return length;
}

}  // namespace

std::string ForTerminal(const std::string& text)
{
    std::string shown;
    for (size_t at = 0; at < text.size();) {
        size_t length = PrintableSequence(text, at);
        if (text[at] == '\\') {
            shown += "\\\\";
        } else if (length) {
            shown.append(text, at, length);
        } else {
            char escape[8];
            snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(text[at]));
            shown += escape;
        }
        at += length ? length : 1;
    }
    return shown;
}

std::string ForHtml(const std::string& text)
{
    std::string shown;
    for (size_t at = 0; at < text.size();) {
        size_t length = PrintableSequence(text, at);
        switch (length ? text[at] : 0) {
        case '&': shown += "&amp;"; break;
        case '<': shown += "&lt;"; break;
        case '>': shown += "&gt;"; break;
        case '"': shown += "&quot;"; break;
        case '\'': shown += "&#39;"; break;
        case 0: shown += "\xEF\xBF\xBD"; break;
        default: shown.append(text, at, length);
        }
        at += length ? length : 1;
    }
    return shown;
}

std::string Percent(int part, int whole)
{
    if (whole == 0)
        return "-";
    char text[16];
    snprintf(text, sizeof text, "%.1f %%", 100.0 * part / whole);
    return text;
}

std::string Seconds(int64_t milliseconds)
{
    char text[32];
    snprintf(text, sizeof text, "%lld.%03lld s", static_cast<long long>(milliseconds / 1000),
             static_cast<long long>(milliseconds % 1000));
    return text;
}

}  // namespace zar::records
