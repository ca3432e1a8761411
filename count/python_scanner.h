// Python scanner: the line rules of type 12. "#" starts a line comment (no
// continuation); single- and double-quoted literals take backslash escapes and, like
// every literal here, do not end at a line break. Triple-quoted strings, optionally
// prefixed by r, u, ur, b or br in either case, are docstrings when their line has
// no code yet: they count as comment (the opening line as punctuation if it already
// holds punctuation). After code on the same line they count as code. Other prefixes
// (f, rb, ...) are code letters, so such strings always follow code. Nothing is
// allocated; an unclosed string runs to the end of the text.
#pragma once

#include <cstdint>

#include "count/classify_text.h"

namespace qm {

// Adds the lines of text to totals' counters for `type`. Called by ClassifyText.
// Requires: length > 0.
void ScanPython(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length);

// A triple-quoted string, cursor just after its three opening quotes; the contract
// of the construct scanners in classify_text.h. Ends after the first three
// closingQuote bytes in a row; two in a row are skipped together; backslashes mean
// nothing, so an escaped quote still counts as a quote.
int64_t ScanTripleQuoted(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, uint8_t closingQuote);

}  // namespace qm
