// Values as the reports show them. Names come from firmware and users, so
// nothing of theirs reaches a terminal or a page as a control sequence.
#pragma once

#include <cstdint>
#include <string>

namespace zar::records {

// Control bytes and bytes that are not UTF-8 as \xHH, a backslash as \\.
std::string ForTerminal(const std::string& text);
// HTML text or attribute: & < > " ' escaped, control bytes and bytes that are
// not UTF-8 as U+FFFD.
std::string ForHtml(const std::string& text);

// "80.0 %", or "-" of nothing.
std::string Percent(int part, int whole);
// "41.230 s"
std::string Seconds(int64_t milliseconds);

}  // namespace zar::records
