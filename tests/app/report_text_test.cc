#include "app/report_text.h"

#include <gtest/gtest.h>

#include <string>

namespace qm {
namespace {

std::string Html(const std::string& text) {
  SharedString out;
  AppendHtmlText(out, text.data(), text.data() + text.size());
  return std::string(out.CStr(), out.Length());
}

std::string Markdown(const std::string& text) {
  SharedString out;
  AppendMarkdownText(out, text.data(), text.data() + text.size());
  return std::string(out.CStr(), out.Length());
}

// File names may hold any bytes: what comes out must be valid UTF-8 that neither
// closes the markup around it nor hides or reorders the text beside it.
TEST(ReportText, EscapesAnyBytesForHtmlAndMarkdown) {
  const struct {
    std::string input;
    const char* html;
    const char* markdown;
  } cases[] = {
      {"<script>a&b</script>", "&lt;script&gt;a&amp;b&lt;/script&gt;", "\\<script\\>a\\&b\\</script\\>"},
      {"x\"y'z", "x&quot;y&#39;z", "x\"y'z"},
      {"a|b*c_d`e[f](g)~h$i@j#k\\", "a|b*c_d`e[f](g)~h$i@j#k\\",
       "a\\|b\\*c\\_d\\`e\\[f\\](g)\\~h\\$i\\@j\\#k\\\\"},
      // A line break would end a Markdown table row; C0 controls and DEL.
      {"a\nb\x01\x7f", "a\\x0ab\\x01\\x7f", "a\\x0ab\\x01\\x7f"},
      // Valid UTF-8 of 2, 3 and 4 bytes passes.
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
       "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      // Not UTF-8: a stray continuation, an overlong '/', a surrogate, a lead byte
      // cut short at the end: each byte of a broken sequence becomes U+FFFD.
      {"\x80", "\xef\xbf\xbd", "\xef\xbf\xbd"},
      {"\xc0\xaf", "\xef\xbf\xbd\xef\xbf\xbd", "\xef\xbf\xbd\xef\xbf\xbd"},
      {"\xed\xa0\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
      {"a\xe2\x82", "a\xef\xbf\xbd\xef\xbf\xbd", "a\xef\xbf\xbd\xef\xbf\xbd"},
      {"\xf4\x90\x80\x80", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd",
       "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
      // Shown as bytes: a C1 control, a right-to-left override, an isolate and a
      // noncharacter; their neighbours U+00A0, U+202F and U+FFFD stay.
      {"\xc2\x85|\xe2\x80\xae|\xe2\x81\xa6|\xef\xbf\xbe",
       "\\xc2\\x85|\\xe2\\x80\\xae|\\xe2\\x81\\xa6|\\xef\\xbf\\xbe",
       "\\xc2\\x85\\|\\xe2\\x80\\xae\\|\\xe2\\x81\\xa6\\|\\xef\\xbf\\xbe"},
      {"\xc2\xa0\xe2\x80\xaf\xef\xbf\xbd", "\xc2\xa0\xe2\x80\xaf\xef\xbf\xbd",
       "\xc2\xa0\xe2\x80\xaf\xef\xbf\xbd"},
      {std::string("a\0b", 3), "a\\x00b", "a\\x00b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Html(c.input), c.html) << c.input;
    EXPECT_EQ(Markdown(c.input), c.markdown) << c.input;
  }
}

}  // namespace
}  // namespace qm
