// Fuzz target for the escapes of names in the HTML page and Markdown tables
// (app/report_text.h): any bytes must give text that is valid UTF-8 and cannot break
// out of where it is put. Checked on every input:
//  - HTML: no control byte, no < > " ', every & starts one of the five entities
//    written, no C1 control, bidirectional control or noncharacter left;
//  - Markdown: the same characters left out; every backslash starts "\xNN" or
//    escapes one of the markup bytes, and every markup byte has one before it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "app/report_text.h"
#include "core/shared_string.h"

namespace {

constexpr char kMarkup[] = "\\`*_[]<>|~&$@#";

bool IsHex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

// Valid UTF-8 with no control, C1, bidirectional control or noncharacter.
void CheckCharacters(std::string_view text) {
  const auto* cursor = reinterpret_cast<const uint8_t*>(text.data());
  const auto* end = cursor + text.size();
  while (cursor < end) {
    if (*cursor < 0x80) {
      if (*cursor < 0x20 || *cursor == 0x7F) std::abort();
      ++cursor;
      continue;
    }
    const int32_t length = qm::Utf8SequenceLength(cursor, end);
    if (length == 0) std::abort();
    uint32_t codePoint = cursor[0] & (0x7F >> length);
    for (int32_t i = 1; i < length; ++i) codePoint = codePoint << 6 | (cursor[i] & 0x3F);
    if (codePoint <= 0x9F || (codePoint >= 0x202A && codePoint <= 0x202E) ||
        (codePoint >= 0x2066 && codePoint <= 0x2069) || (codePoint >= 0xFDD0 && codePoint <= 0xFDEF) ||
        (codePoint & 0xFFFE) == 0xFFFE) {
      std::abort();
    }
    cursor += length;
  }
}

void CheckHtml(std::string_view text) {
  CheckCharacters(text);
  if (text.find_first_of("<>\"'") != std::string_view::npos) std::abort();
  for (size_t at = text.find('&'); at != std::string_view::npos; at = text.find('&', at + 1)) {
    const std::string_view rest = text.substr(at);
    if (rest.substr(0, 5) != "&amp;" && rest.substr(0, 4) != "&lt;" && rest.substr(0, 4) != "&gt;" &&
        rest.substr(0, 6) != "&quot;" && rest.substr(0, 5) != "&#39;") {
      std::abort();
    }
  }
}

void CheckMarkdown(std::string_view text) {
  CheckCharacters(text);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\') {
      if (i + 3 < text.size() && text[i + 1] == 'x' && IsHex(text[i + 2]) && IsHex(text[i + 3])) {
        i += 3;
      } else if (i + 1 < text.size() && std::strchr(kMarkup, text[i + 1]) != nullptr) {
        ++i;
      } else {
        std::abort();
      }
    } else if (std::strchr(kMarkup, text[i]) != nullptr) {
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* const begin = reinterpret_cast<const char*>(data);
  qm::SharedString html;
  qm::AppendHtmlText(html, begin, begin + size);
  CheckHtml(std::string_view(html.CStr(), static_cast<size_t>(html.Length())));
  qm::SharedString markdown;
  qm::AppendMarkdownText(markdown, begin, begin + size);
  CheckMarkdown(std::string_view(markdown.CStr(), static_cast<size_t>(markdown.Length())));
  return 0;
}
