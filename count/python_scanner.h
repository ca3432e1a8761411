// Python scanner: the line rules of type 12: "#" line comments, quoted literals with
// backslash escapes, and triple-quoted strings that are docstrings (comment) when
// their line has no code yet. It keeps no state between calls and allocates nothing,
// so any thread may scan once the mode is set; an unclosed string runs to the end.

// Single- and double-quoted literals, like every literal here, do not end at a line
// break. Triple-quoted strings may be prefixed by r, u, ur, b or br in either case; as
// docstrings they count as comment (the opening line as punctuation if it already
// holds punctuation). After code on the same line they count as code. Other prefixes
// (f, rb, ...) are code letters, so such strings always follow code.
#pragma once

#include <cstdint>

#include "count/scan_skeleton.h"

namespace qm {

// Adds the lines of text to totals' counters for `type`. Called by ClassifyText.
// Requires: length > 0.
void ScanPython(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length);

// A triple-quoted string, cursor just after its three opening quotes; the contract
// of the construct scanners in classify_text.h. Ends after the first three
// closingQuote bytes in a row; two in a row are skipped together; backslashes mean
// nothing, so an escaped quote still counts as a quote.
int64_t ScanTripleQuoted(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines,
                         uint8_t closingQuote);

}  // namespace qm
