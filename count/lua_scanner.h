// Lua scanner: the line rules of type 11: "--" line comments, long brackets as block
// comments and long strings, quoted literals with backslash escapes. It keeps no state
// between calls and allocates nothing, so any thread may scan once the mode is set;
// an unclosed comment or literal runs to the end of the text.

// A long bracket, '[', zero or more '=' and '[', opens a long string that ends at
// ']', as many '=' and ']'; after "--" the same opener starts a block comment with
// the same closer ("--[[ ... ]]", "--[==[ ... ]==]"). Any other "--" starts a line
// comment without continuation; a single "-" is an ordinary byte.
#pragma once

#include <cstdint>

#include "count/scan_skeleton.h"

namespace qm {

// Adds the lines of text to totals' counters for `type` and, given kinds, writes each
// line's category there. Called by ClassifyText.
// Requires: length > 0.
void ScanLua(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length,
             uint8_t* kinds = nullptr);

// The inside of a long bracket (a long string, or a block comment after "--"),
// cursor just after an opener with equalsCount '=' signs; the contract of the
// construct scanners in classify_text.h. Ends after the first ']', equalsCount '='
// and ']'.
template <typename Marks = NoMarks>
int64_t ScanLuaLongBracket(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines,
                           int64_t equalsCount, Marks marks = {});

}  // namespace qm
