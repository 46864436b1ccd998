// The command line of a run without a Shell, from the two places it can come
// from: a boot option's load options (UCS-2) and the file zar.args beside the
// program (UTF-8, or UTF-16 with a byte-order mark). Both become one line of
// UTF-16 text, and the line is split into words as the UEFI Shell splits the
// line typed at its prompt, so that the words mean what they would mean
// there. Nothing here calls the firmware: the caller owns every buffer.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace zar::uefi {

// A command line is at most this many UTF-16 units, and zar.args at most
// this many bytes, comments included: a few hundred would do for any line
// of ours, and a longer one is a wrong file, not a long command.
constexpr size_t MAX_LINE_UNITS = 4096;
constexpr size_t MAX_ARGS_FILE_BYTES = 16384;

enum class LineProblem : uint8_t {
    None,
    NotText,    // not UTF-8 or UTF-16 text, or a control character in it (At: its byte offset)
    TooLong,    // past MAX_LINE_UNITS or MAX_ARGS_FILE_BYTES
    TwoLines,   // a second line of words (At: its line number, from 1)
    OpenQuote,  // a quote never closed
    NoWords,    // only blank and comment lines
};

struct LineCheck {
    LineProblem Problem;
    size_t At;
};

// Decodes zar.args into out (capacity units, one kept for a NUL): the one
// line of words, without the blank lines and the comment lines (their first
// non-blank character is '#'). The encoding is UTF-8 unless a byte-order mark
// says UTF-16 (FF FE or FE FF); a UTF-8 mark is skipped.
LineCheck DecodeArgsFile(const uint8_t* bytes, size_t size, char16_t* out, size_t capacity, size_t* units);

// Whether a boot option's load options hold a UCS-2 command line: an even
// size, text up to the first NUL (only NULs after it), no control character
// but blanks, surrogates in pairs. On true, *units is the text's length;
// firmware that passes other data (a GUID, a binary blob) gets false.
bool LoadOptionsAreText(const void* options, size_t size, size_t* units);

// Splits text (units long, with room for one more unit) in place into its
// words, the way the Shell splits a command line (ShellPkg's
// ShellParametersProtocol.c, ParseCommandLineToArgs): blanks separate words,
// "..." keeps blanks inside a word and the quotes go, ^ takes the character
// after it as it is. Tabs, CRs and LFs count as blanks. words gets at most
// capacity pointers into text, each word NUL-terminated.
LineCheck SplitWords(char16_t* text, size_t units, char16_t** words, size_t capacity, size_t* count);

// Whether a first word names the program rather than a word of its line
// ("zar", or a name ending in ".efi", after any folders), as a boot option
// may carry one in front of its words.
bool NamesTheProgram(const char16_t* word);

}  // namespace zar::uefi
