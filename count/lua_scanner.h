// Lua scanner: the line rules of type 11. "--[[" opens a block comment that ends
// after the first "]]"; any other "--" (also "--[==[" with equals signs) starts a
// line comment without continuation. A single "-" is an ordinary byte. Single- and
// double-quoted literals take backslash escapes; long strings in square brackets are
// not recognised, so a "--" inside one opens a comment. Nothing is allocated; an
// unclosed comment or literal runs to the end of the text.
#pragma once

#include <cstdint>

#include "count/classify_text.h"

namespace qm {

// Adds the lines of text to totals' counters for `type`. Called by ClassifyText.
// Requires: length > 0.
void ScanLua(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length);

// A Lua block comment, cursor just after "--[["; the contract of the construct
// scanners in classify_text.h. Ends after the first "]]".
int64_t ScanLuaBlockComment(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines);

}  // namespace qm
