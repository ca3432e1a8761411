// Python scanner: the line rules of type 12: "#" line comments, quoted literals with
// backslash escapes, and triple-quoted strings that are docstrings (comment) where a
// statement starts. It keeps no state between calls and allocates nothing, so any
// thread may scan once the mode is set; an unclosed string runs to the end.

// Single- and double-quoted literals, like every literal here, do not end at a line
// break. Triple-quoted strings may be prefixed by r, u, ur, b or br in either case; they
// are docstrings, counted as comment (the opening line as punctuation if it already
// holds punctuation), where a statement starts: no code before them on their line, no
// bracket open ("(", "[", "{" outside literals and comments, as many closed as opened
// before) and the line not continuing one that ended in a backslash. Anywhere else they
// count as code. Other prefixes (f, rb, ...) are code letters, so such strings always
// follow code.
#pragma once

#include <cstdint>

#include "count/scan_skeleton.h"

namespace qm {

// Adds the lines of text to totals' counters for `type` and, given kinds, writes each
// line's category there. Called by ClassifyText.
// Requires: length > 0.
void ScanPython(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length,
                uint8_t* kinds = nullptr);

// The same scan with every byte looked up alone, brackets counted one by one. It gives
// the same counts for every text; the fuzz target holds ScanPython to it. Not used by
// the program.
void ScanPythonBytewise(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length);

// A triple-quoted string, cursor just after its three opening quotes; the contract
// of the construct scanners in classify_text.h. Ends after the first three
// closingQuote bytes in a row; two in a row are skipped together; backslashes mean
// nothing, so an escaped quote still counts as a quote.
template <typename Marks = NoMarks>
int64_t ScanTripleQuoted(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines,
                         uint8_t closingQuote, Marks marks = {});

}  // namespace qm
