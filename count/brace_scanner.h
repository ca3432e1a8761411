// Brace-language scanner: the line rules of every type whose comments follow the C
// pattern: "//" line comments, "/*" ... "*/" block comments and double- and
// single-quoted literals with backslash escapes, with the differences per type below.
// It keeps no state between calls, so once the mode is set any thread may scan; the
// caller owns the totals. Only a C++ raw string's terminator is allocated.

// Types: D, C++, C, ObjC++, ObjC, C/C++ headers and inline files, C#, Java,
// JavaScript, PHP, Go, TypeScript, Rust, and from the language table Kotlin, Swift,
// Scala, Dart and Groovy. The differences per type, fixed for a whole call:
//
//   C++, C, ObjC++, ObjC, header:  a backslash before a line break continues "//"
//   all but D, PHP and Rust:       '...' and "..." end at a line break that no
//                                  backslash escapes (it stays the caller's)
//   C++, header, inline:           R"delim( ... )delim" raw strings
//   C++, C, ObjC++, ObjC, header,  a quote between hex digits of a number separates
//   inline:                        digits (1'000'000, 0xFF'FF)
//   D:                             "/+" ... "+/" nesting comments, raw `...` and r"..."
//   C#:                            @"...", $@"...", @$"..." verbatim strings with
//                                  doubled quotes; """ ... """ raw strings (3+ quotes)
//   Java:                          """ ... """ text blocks
//   JavaScript, TypeScript:        `...` template literals with escapes, whose ${ }
//                                  expressions are read by these same rules (nested
//                                  templates, comments) up to their closing brace;
//                                  /.../ regular expressions where an expression may
//                                  start
//   Go:                            raw `...` literals
//   PHP:                           "#" line comments but "#[" attributes; <<<ID
//                                  heredocs and nowdocs ending at an indented "ID"
//   Rust:                          r"...", r#"..."# raw strings (any number of '#');
//                                  block comments nest; a single quote opens only
//                                  'x' and '\...' (so lifetimes and labels are code)
//   Kotlin, Swift, Scala:          nesting "/*" ... "*/", """...""" literals (no escapes)
//   Swift:                         #"..."#, #"""..."""# raw strings (any number of '#')
//   Dart:                          the same as Kotlin, '''...''', and r"..." r'...' raw
//   Groovy:                        """...""" and '''...''' literals; /.../ slashy strings
//                                  where an operand may start and $/.../$ dollar
//                                  slashy strings, both across lines
//
// Comments (and the lines they cross) count as comment unless code or punctuation
// shares the line; literals count as code, their blank inner lines as blank. An
// unclosed construct runs to the end of the text. Nothing is allocated except the
// terminator of a C++ raw string (a copy of its delimiter, per literal); template
// literals nest at most 16 deep (deeper, "${" is text), each level a stack frame.
#pragma once

#include <cstdint>

#include "count/scan_skeleton.h"

namespace qm {

// Adds the lines of text to totals' counters for `type` and, given kinds, writes each
// line's category there. Called by ClassifyText.
// Requires: type is 1..10, 14..17 or kTypeKotlin..kTypeGroovy, length > 0.
// Hot: see bench/classify_bench.cc.
void ScanBraceLanguage(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length,
                       uint8_t* kinds = nullptr);

// The same scan with every byte looked up in the main-loop table, without the vector
// search for the end of a line that already holds code, and without the memos that
// keep regular-expression and digit-separator look-ups linear on long lines (so it
// can be quadratic). It gives the same counts for every text; the tests and the fuzz
// target hold ScanBraceLanguage to it. Not used by the program.
void ScanBraceLanguageBytewise(LineTotals& totals, FileTypeId type, const uint8_t* text, int32_t length);

// Construct scanners, with the contract of the ones in classify_text.h (cursor just
// after the opener, left after the closer or at end; content lines returned, blank
// lines in blankLines).

// "/*" ... "*/": ends after the first "*/".
template <typename Marks = NoMarks>
int64_t ScanBlockComment(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, Marks marks = {});

// A nesting comment, cursor after its opener: D's "/+" ... "+/" (inner '+') or
// Rust's, Kotlin's, Swift's, Scala's and Dart's "/*" ... "*/" (inner '*'). "/" inner raises the depth, inner
// "/" lowers it, each pair taken as a unit with the opener tested first; ends after the closer that brings
// the depth to 0.
template <typename Marks = NoMarks>
int64_t ScanNestingComment(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, uint8_t inner,
                           Marks marks = {});

// A C++ raw string, cursor just after its opening quote (`quote`). The delimiter is
// every byte up to the first "(" and the literal ends after ")" delimiter `quote`;
// backslashes mean nothing. With no "(" after the quote the literal runs to the end.
// Line breaks met while looking for "(" are counted like the ones inside.
template <typename Marks = NoMarks>
int64_t ScanCppRawString(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, uint8_t quote,
                         Marks marks = {});

// A Rust raw string, cursor just after its opening double quote, opened with
// hashCount '#' signs: ends after the first double quote followed by hashCount '#'.
template <typename Marks = NoMarks>
int64_t ScanRustRawString(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, int64_t hashCount,
                          Marks marks = {});

// A PHP heredoc or nowdoc, cursor just after "<<<". The opener is optional spaces
// or tabs, an identifier (letters, digits, '_', bytes from 0x80; no leading digit),
// bare or in single or double quotes, then a line break; without it the result is -1
// and the cursor is unchanged. The opening line is the first content line; the
// heredoc ends on the first later line holding, after spaces or tabs, the identifier
// not followed by an identifier byte, with the cursor just after the identifier.
template <typename Marks = NoMarks>
int64_t ScanHeredoc(const uint8_t*& cursor, const uint8_t* end, int64_t& blankLines, Marks marks = {});

}  // namespace qm
