#include "app/report_text.h"

#include <cstring>

namespace qm {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// The code point of a valid sequence of length 2 to 4.
uint32_t CodePointOf(const uint8_t* cursor, int32_t length) {
  uint32_t codePoint = cursor[0] & (0x7F >> length);
  for (int32_t i = 1; i < length; ++i) codePoint = codePoint << 6 | (cursor[i] & 0x3F);
  return codePoint;
}

// Characters no name may show as themselves: C1 controls, the bidirectional
// embeddings, overrides and isolates, and noncharacters.
bool IsHiddenCodePoint(uint32_t codePoint) {
  return codePoint <= 0x9F || (codePoint >= 0x202A && codePoint <= 0x202E) ||
         (codePoint >= 0x2066 && codePoint <= 0x2069) || (codePoint >= 0xFDD0 && codePoint <= 0xFDEF) ||
         (codePoint & 0xFFFE) == 0xFFFE;
}

void AppendByteEscapes(SharedString& out, const uint8_t* bytes, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    const char escaped[4] = {'\\', 'x', kHex[bytes[i] >> 4], kHex[bytes[i] & 15]};
    out.Append(escaped, 4);
  }
}

// Walks text character by character: a printable ASCII byte is written as
// replacementOf(byte) gives it (null: as itself), everything else as the header says.
// Hot: runs of bytes written as themselves are appended at once.
template <typename Replacement>
void AppendEscaped(SharedString& out, const char* begin, const char* end, Replacement replacementOf) {
  const auto* cursor = reinterpret_cast<const uint8_t*>(begin);
  const auto* last = reinterpret_cast<const uint8_t*>(end);
  const uint8_t* run = cursor;  // bytes since here are written as themselves
  auto endRun = [&out, &run, &cursor] {
    if (cursor > run) out.Append(reinterpret_cast<const char*>(run), static_cast<int32_t>(cursor - run));
  };
  while (cursor < last) {
    const uint8_t byte = *cursor;
    if (byte >= 0x20 && byte < 0x7F) {
      const char* const replacement = replacementOf(static_cast<char>(byte));
      if (replacement != nullptr) {
        endRun();
        out.Append(replacement);
        run = ++cursor;
      } else {
        ++cursor;
      }
      continue;
    }
    if (byte < 0x80) {
      endRun();
      AppendByteEscapes(out, cursor, 1);
      run = ++cursor;
      continue;
    }
    const int32_t length = Utf8SequenceLength(cursor, last);
    if (length == 0) {
      endRun();
      out.Append("\xEF\xBF\xBD", 3);  // U+FFFD for this byte alone
      run = ++cursor;
    } else if (IsHiddenCodePoint(CodePointOf(cursor, length))) {
      endRun();
      AppendByteEscapes(out, cursor, length);
      run = cursor += length;
    } else {
      cursor += length;
    }
  }
  endRun();
}

}  // namespace

int32_t Utf8SequenceLength(const uint8_t* cursor, const uint8_t* end) {
  const uint8_t lead = cursor[0];
  int32_t length;
  uint8_t low = 0x80;
  uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (end - cursor < length) return 0;
  if (cursor[1] < low || cursor[1] > high) return 0;
  for (int32_t i = 2; i < length; ++i) {
    if (cursor[i] < 0x80 || cursor[i] > 0xBF) return 0;
  }
  return length;
}

void AppendHtmlText(SharedString& out, const char* begin, const char* end) {
  AppendEscaped(out, begin, end, [](char byte) -> const char* {
    switch (byte) {
      case '&':
        return "&amp;";
      case '<':
        return "&lt;";
      case '>':
        return "&gt;";
      case '"':
        return "&quot;";
      case '\'':
        return "&#39;";
      default:
        return nullptr;
    }
  });
}

void AppendHtmlText(SharedString& out, const SharedString& text) {
  AppendHtmlText(out, text.CStr(), text.CStr() + text.Length());
}

void AppendHtmlText(SharedString& out, const char* text) {
  AppendHtmlText(out, text, text + std::strlen(text));
}

namespace {

// Emphasis, code, links, HTML, entities, table cells, strike-through, math, mentions
// and issue references: each of these bytes gets a backslash before it.
constexpr char kMarkdownMarkup[] = "\\`*_[]<>|~&$@#";

struct MarkdownEscapes {
  char text[128][3] = {};
  constexpr MarkdownEscapes() {
    for (const char* markup = kMarkdownMarkup; *markup != 0; ++markup) {
      text[static_cast<unsigned char>(*markup)][0] = '\\';
      text[static_cast<unsigned char>(*markup)][1] = *markup;
    }
  }
};

constexpr MarkdownEscapes kMarkdownEscapes;

}  // namespace

void AppendMarkdownText(SharedString& out, const char* begin, const char* end) {
  AppendEscaped(out, begin, end, [](char byte) -> const char* {
    const char* const escaped = kMarkdownEscapes.text[static_cast<unsigned char>(byte)];
    return escaped[0] != 0 ? escaped : nullptr;
  });
}

void AppendMarkdownText(SharedString& out, const SharedString& text) {
  AppendMarkdownText(out, text.CStr(), text.CStr() + text.Length());
}

void AppendMarkdownText(SharedString& out, const char* text) {
  AppendMarkdownText(out, text, text + std::strlen(text));
}

}  // namespace qm
