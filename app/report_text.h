// Report text: what the report formats share to write names made of any bytes: the
// length of a valid UTF-8 sequence, and the escapes of HTML and Markdown text. Every
// function appends to a caller's string and fails on nothing; pure, any thread.

// HTML and Markdown see the same characters: a byte that is not part of valid UTF-8
// becomes U+FFFD; C0 controls, DEL, C1 controls, the bidirectional controls (U+202A to
// U+202E, U+2066 to U+2069) and noncharacters are written as "\xNN" per byte, so no
// name can reorder or hide the text around it. HTML then writes & < > " ' as
// entities (text and attribute values alike); Markdown puts a backslash before every
// ASCII punctuation character that could start markup or end a table cell.
#pragma once

#include <cstdint>

#include "core/shared_string.h"

namespace qm {

// Length of the valid UTF-8 sequence (2 to 4 bytes) starting at cursor, or 0.
// Overlong forms, surrogates and code points above U+10FFFF are not valid.
// Requires: cursor < end.
int32_t Utf8SequenceLength(const uint8_t* cursor, const uint8_t* end);

// Appends text as HTML text or attribute value (see above).
void AppendHtmlText(SharedString& out, const char* begin, const char* end);
void AppendHtmlText(SharedString& out, const SharedString& text);
void AppendHtmlText(SharedString& out, const char* text);

// Appends text as the text of a GitHub-flavoured Markdown table cell (see above).
void AppendMarkdownText(SharedString& out, const char* begin, const char* end);
void AppendMarkdownText(SharedString& out, const SharedString& text);
void AppendMarkdownText(SharedString& out, const char* text);

}  // namespace qm
