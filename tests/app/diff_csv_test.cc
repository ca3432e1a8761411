#include "app/diff_csv.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/diff_csv_internal.h"
#include "app/run_state.h"

namespace qm {
namespace {

using Records = std::vector<std::vector<std::string>>;

Records Parse(const std::string& input) {
  CsvRecordParser parser;
  Records records;
  auto take = [&] {
    records.emplace_back();
    for (int64_t i = 0; i < parser.Record().fieldCount; ++i) {
      const CsvField& field = parser.Record().Field(i);
      records.back().emplace_back(field.Kept(), field.KeptLength());
    }
  };
  for (const char byte : input) {
    if (parser.Feed(static_cast<uint8_t>(byte))) take();
  }
  if (parser.Finish()) take();
  return records;
}

TEST(CsvRecordParser, SplitsRecordsAndFields) {
  const struct {
    std::string input;
    Records expected;
  } cases[] = {
      {"a,b\nc,d\n", {{"a", "b"}, {"c", "d"}}},
      {"a,b\r\nc,d\r\n", {{"a", "b"}, {"c", "d"}}},
      {"a,b\rc,d", {{"a", "b"}, {"c", "d"}}},
      {"a,b\n\rc,\n", {{"a", "b"}, {}, {"c", ""}}},  // LF CR is two breaks
      {"\"x,y\",\"say \"\"hi\"\"\"\n", {{"x,y", "say \"hi\""}}},
      {"\"a\r\nb\",c\n", {{"a\r\nb", "c"}}},
      {"\"ab\"cd,e\n\"q\"\n", {{"abcd", "e"}, {"q"}}},  // the byte after a closing quote is plain
      {"solo\n\nx,y\n", {{}, {}, {"x", "y"}}},          // no ',' or '"': no fields
      {"a,b\n\"", {{"a", "b"}, {""}}},
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Parse(c.input), c.expected) << c.input;
}

// Memory stays fixed: a long field keeps a prefix and fields past the sixth are only
// counted, without changing what the reader sees.
TEST(CsvRecordParser, KeepsBoundedPrefixes) {
  std::string input = "h\n" + std::string(10000, 'x');
  for (int i = 0; i < 999; ++i) input += ",7";
  CsvRecordParser parser;
  for (const char byte : input) parser.Feed(static_cast<uint8_t>(byte));
  ASSERT_TRUE(parser.Finish());
  EXPECT_EQ(parser.Record().fieldCount, 1000);
  EXPECT_EQ(parser.Record().Field(0).Length(), 10000);
  EXPECT_FALSE(parser.Record().Field(0).Is(std::string(kCsvFieldKeptBytes, 'x').c_str()));
  EXPECT_EQ(parser.Record().Field(5).Number(), 7);
  EXPECT_TRUE(parser.Record().Field(6).IsEmpty());
}

TEST(ParseDiffNumber, ReadsSignAndLeadingDigitsSaturating) {
  const std::pair<std::string, int64_t> cases[] = {
      {"", 0},
      {"-12", -12},
      {"12abc", 12},
      {" 5", 0},
      {"+-5", 0},
      {"9223372036854775807", INT64_MAX},
      {"9223372036854775808", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"-99999999999999999999999", INT64_MIN},
      {std::string(100, '0') + "5", 5},
  };
  for (const auto& [text, value] : cases) {
    EXPECT_EQ(ParseDiffNumber(text.data(), text.data() + text.size()), value) << text;
  }
}

}  // namespace
}  // namespace qm
