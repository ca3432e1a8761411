// Line classification: turns the bytes of one source file into line counts. Every
// line lands in exactly one category (blank, comment, punctuation, code), added to the
// caller's LineTotals for the file's type. Never fails, never reads outside the text.
// Set the mode once (BuildCharClassTable) before the first file; after that any
// thread may classify, each into totals that no other thread touches meanwhile.

// After ClassifyText the rise of lineCount[type] equals the sum of the rises of the
// four category counters. This holds for every byte sequence: constructs that never
// close run to the end of the text, nothing is an error.
//
// Lines end at LF, CR LF or a lone CR, mixed freely; LF followed by CR is two breaks.
// A UTF-8 byte order mark (EF BB BF) is invisible wherever it stands. The text is
// read only, never outside [text, text + length), and nothing is allocated per line;
// only the C++ raw-string scanner copies its terminator (one short string per
// literal). Cost: one pass over the bytes (raw strings read their own bytes twice).
//
// The mode (conservative or greedy) and CharClassTable are process-wide: set them
// once with BuildCharClassTable before the first file; they are read, never written,
// while files are classified. Nothing else carries from one call to the next.
//
// The scanners share the skeleton in count/scan_skeleton.h.
#pragma once

#include <array>
#include <cassert>
#include <cstdint>

#include "count/file_type_id.h"
#include "count/line_totals.h"

namespace qm {

// A 256-entry byte-class table indexed by byte value; what the entries mean depends
// on the table.
using ByteTable = std::array<uint8_t, 256>;

// Entry 1 for a byte that makes a line code, 0 otherwise. Conservative: 'A'-'Z',
// 'a'-'z', '0'-'9', '_', '"' and '\''. Greedy: every byte above 32. Starts out
// conservative (the default mode). The scanners use their own per-language tables
// built from the same rule (IsConservativeCodeByte below).
extern ByteTable CharClassTable;

// Fills CharClassTable and sets the mode for every later ClassifyText call.
// Call once per run before the first file; not safe while a file is classified.
void BuildCharClassTable(bool conservative);

// The mode last set by BuildCharClassTable (true until it is first called).
bool IsConservativeMode();

// The kind of one line, as ClassifyText counts it.
enum LineKind : uint8_t { kLineBlank = 0, kLineComment = 1, kLineCode = 2, kLinePunctuation = 3 };

// The lines ClassifyText counts in a text: its line breaks (LF, CR LF, a lone CR) and
// a last line without one.
int64_t CountTextLines(const uint8_t* text, int64_t length);

// Adds the lines of one file of the given type to totals' counters for that type.
// Adds nothing for type kTypeUnknown, a type outside 1..kTypeInvalid - 1, or length <= 0.
// Types 1-10 and 14-17 use the brace-language rules, 11 Lua, 12 Python, 13 Pascal; the
// language-table types (count/language_table.h) the generic scanner, except Kotlin,
// Swift, Scala, Dart and Groovy, which use the brace-language rules, and Starlark,
// which uses Python's.
void ClassifyText(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length);

// The same, and writes the LineKind of line i to kinds[i] for every line counted (none
// where nothing is added). The counting above is a separate instantiation of the
// scanners, so it pays nothing for this. Requires: kinds holds CountTextLines(text,
// length) entries.
void ClassifyText(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length, uint8_t* kinds);

}  // namespace qm
