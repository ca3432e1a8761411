// Brace-language scanner: the line rules of every type whose comments follow the C
// pattern (D, C++, C, ObjC++, ObjC, C/C++ headers and inline files, C#, Java,
// JavaScript, PHP, Go, TypeScript, Rust). All share "//" line comments, "/*" ... "*/"
// block comments that do not nest, and double- and single-quoted literals with
// backslash escapes (a single quote opens a literal in every one of them, Rust
// lifetimes included). The differences per type, fixed for a whole call:
//
//   C++, C, ObjC++, ObjC, header:  a backslash before a line break continues "//"
//   C++, header, inline:           R"delim( ... )delim" raw strings
//   D:                             "/+" ... "+/" nesting comments, raw `...` and r"..."
//   C#:                            @"..." verbatim strings with doubled quotes
//   JavaScript, TypeScript:        `...` literals with escapes
//   Go:                            raw `...` literals
//   PHP:                           "#" line comments, <<<ID heredocs ending at "ID;"
//   Rust:                          r"...", r#"..."# raw strings (any number of '#')
//   Kotlin, Swift, Scala:          nesting "/*" ... "*/", """...""" literals (no escapes)
//   Dart:                          the same, and '''...'''
//   Groovy:                        """...""" and '''...''' literals
//
// Comments (and the lines they cross) count as comment unless code or punctuation
// shares the line; literals count as code, their blank inner lines as blank. An
// unclosed construct runs to the end of the text. Nothing is allocated except the
// terminator of a C++ raw string (a copy of its delimiter, per literal).
#pragma once

#include <cstdint>

#include "count/classify_text.h"

namespace qm {

// Adds the lines of text to totals' counters for `type`. Called by ClassifyText.
// Requires: type is 1..10, 14..17 or kTypeKotlin..kTypeGroovy, length > 0.
// Hot: see bench/classify_bench.cc.
void ScanBraceLanguage(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length);

// The same scan with every byte looked up in the main-loop table, without the vector
// search for the end of a line that already holds code. It gives the same counts for
// every text; the tests hold ScanBraceLanguage to it. Not used by the program.
void ScanBraceLanguageBytewise(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length);

// Construct scanners, with the contract of the ones in classify_text.h (cursor just
// after the opener, left after the closer or at end; content lines returned, blank
// lines in blankLines).

// "/*" ... "*/": ends after the first "*/".
int64_t ScanBlockComment(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines);

// D's "/+" ... "+/": "/+" raises the depth, "+/" lowers it, each pair taken as a
// unit with "/+" tested first; ends after the "+/" that brings the depth to 0.
int64_t ScanNestingComment(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines);

// "/*" ... "*/" where block comments nest (Kotlin, Swift, Scala, Dart): the same rules
// with "/*" and "*/".
int64_t ScanNestedBlockComment(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines);

// A C++ raw string, cursor just after its opening quote (`quote`). The delimiter is
// every byte up to the first "(" and the literal ends after ")" delimiter `quote`;
// backslashes mean nothing. With no "(" after the quote the literal runs to the end.
// Line breaks met while looking for "(" are counted like the ones inside.
int64_t ScanCppRawString(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, uint8_t quote);

// A Rust raw string, cursor just after its opening double quote, opened with
// hashCount '#' signs: ends after the first double quote followed by hashCount '#'.
int64_t ScanRustRawString(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, int64_t hashCount);

// A PHP heredoc, cursor just after "<<<". The identifier is the rest of the line,
// exactly (a leading single quote and then a trailing one are dropped: nowdoc; a
// double-quoted identifier keeps its quotes). The opening line is the first content
// line; the heredoc ends on the first later line that begins with the identifier,
// ";" and a line break, with the cursor just after the ";".
int64_t ScanHeredoc(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines);

}  // namespace qm
