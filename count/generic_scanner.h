// Generic scanner: the line rules of every language-table type that no dedicated
// scanner reads, driven by the entry's data (count/language_table.h). It keeps the
// skeleton of classify_text.h, so every line is counted once whatever the bytes.
// Nothing is allocated; once BuildGenericTables (or first use) has built the static
// byte tables, scans may run on several threads at once.

// The entry's data: its line-comment openers, block pairs, quotes, escape byte,
// heredocs and punctuation rule, and the few rules of one language (Makefile recipes,
// YAML block scalars, Ruby's ?x and %-literals). Heredoc identifiers are spans of the
// text; at most 8 heredocs wait for the end of a line (more open nothing). One pass
// over the bytes, plus look-arounds within a line: the rest of a line after an
// assembly ';', the start of a line before a shell "<<" or a YAML '|'; a Makefile's
// recipe test walks up to the last tab-led line it judged or the nearest make line,
// so over a whole text it reads each line a bounded number of times.
#pragma once

#include <cstdint>

#include "count/scan_skeleton.h"

namespace qm {

// Adds the lines of text to totals' counters for `type` and, given kinds, writes each
// line's category there. Called by ClassifyText.
// Requires: type is a table type read by this scanner, length > 0.
// Hot: see bench/classify_bench.cc (BM_PythonAsShell, BM_PythonAsPerl: about 1 GB/s
// and 0.33 GB/s on the development machine; Perl's quote-like words cost the rest).
void ScanGenericLanguage(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length,
                         uint8_t* kinds = nullptr);

// Builds the byte tables of every language-table type now (idempotent), so that later
// scans only read them. Requires: no scan runs meanwhile.
void BuildGenericTables();

}  // namespace qm
