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

const std::string kHeader = "Type,Files,Blank,Comment,Punctuation,Code\n";

// Each case loads a CSV and checks the C source counters afterwards as
// {fileCount, lineCount, blank, comment, punctuation, code}.
TEST(DiffCsvReader, AppliesRowsUntilTheFirstBadOne) {
  const int64_t kMark = kDiffLineMarker;
  const int64_t kLimit = kDiffCounterLimit;
  const struct {
    const char* name;
    std::string csv;
    bool isWellFormed;
    std::vector<int64_t> c;
  } cases[] = {
      {"conservative",
       kHeader + "C source,1,1,2,3,10\nc source,9,9,9,9,9\nTotal,1,1,2,3,10\n",
       true,
       {-1, kMark, -1, -2, -3, -10}},
      {"greedy: fourth number is code",
       "Type,Files,Blank,Comment,Code\r\nC source,1,2,3,40\r\n",
       true,
       {-1, kMark, -2, -3, 0, -40}},
      {"header only, no line break", "Type,Files,Blank,Comment,Code", true, {0, 0, 0, 0, 0, 0}},
      {"wrong field count",
       kHeader + "C source,1,1,1,1,1\nGo source,1\nC source,1,1,1,1,1\n",
       false,
       {-1, kMark, -1, -1, -1, -1}},
      {"empty line",
       kHeader + "C source,1,1,1,1,1\n\nC source,1,1,1,1,1\n",
       false,
       {-1, kMark, -1, -1, -1, -1}},
      {"first row bad", kHeader + "C source,1\n", false, {0, 0, 0, 0, 0, 0}},
      // The first line must be one of the two headers, byte for byte.
      {"no header", "C source,1,1,1,1,1\n", false, {0, 0, 0, 0, 0, 0}},
      {"short header", "Type,Files,Blank\nC source,4,5\n", false, {0, 0, 0, 0, 0, 0}},
      {"header with a trailing space", "Type,Files,Blank,Comment,Code \nC source,1,1,1,1\n", false, {0, 0, 0, 0, 0, 0}},
      {"quoted header", "\"Type\",Files,Blank,Comment,Code\nC source,1,1,1,1\n", false, {0, 0, 0, 0, 0, 0}},
      {"empty", "", false, {0, 0, 0, 0, 0, 0}},
      {"zeros", std::string(5000, '\0'), false, {0, 0, 0, 0, 0, 0}},
      {"saturating, twice",
       kHeader + "C source,-99999999999999999999,99999999999999999999,0,0,0\n" +
           "C source,-9223372036854775808,9223372036854775807,0,0,0\n",
       true,
       {kLimit, kMark, -kLimit, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    CountTotals totals;
    ResetTotals(totals);
    const auto* bytes = reinterpret_cast<const uint8_t*>(c.csv.data());
    EXPECT_EQ(ApplyDiffCsv(bytes, bytes + c.csv.size(), totals), c.isWellFormed) << c.name;
    EXPECT_EQ((std::vector<int64_t>{totals.fileCount[kTypeC], totals.lineCount[kTypeC],
                                    totals.blankLines[kTypeC], totals.commentLines[kTypeC],
                                    totals.punctLines[kTypeC], totals.codeLines[kTypeC]}),
              c.c)
        << c.name;
    EXPECT_EQ(totals.lineCount[kTypeGo], 0) << c.name;
  }
}

}  // namespace
}  // namespace qm
