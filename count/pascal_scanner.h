// Pascal scanner: the line rules of type 13: "//" line comments, "{ }" and "(* *)"
// comments, "$" directives counted as code, quoted literals with doubled quotes. It
// keeps no state between calls and allocates nothing, so any thread may scan once the
// mode is set; an unclosed comment or literal runs to the end of the text.

// "//" starts a line comment (no continuation); "{" ... "}" and "(*" ... "*)" are
// comments that do not nest, the one form being plain text inside the other. A
// comment whose opener is followed at once by "$" ("{$", "(*$") is a compiler
// directive and counts as code, its blank inner lines as blank; "{ $define X}" is a
// comment. Single- and double-quoted literals have no escapes; a doubled quote
// stands for one quote.
#pragma once

#include <cstdint>

#include "count/scan_skeleton.h"

namespace qm {

// Adds the lines of text to totals' counters for `type` and, given kinds, writes each
// line's category there. Called by ClassifyText.
// Requires: length > 0.
void ScanPascal(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length,
                uint8_t* kinds = nullptr);

// A Pascal comment, cursor just after "{" (isParenStar false) or "(*" (true); the
// contract of the construct scanners in classify_text.h. Ends after the first "}"
// or "*)" respectively. isDirective is set to whether the byte right after the
// opener is "$".
template <typename Marks = NoMarks>
int64_t ScanPascalComment(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, bool isParenStar,
                          bool& isDirective, Marks marks = {});

}  // namespace qm
