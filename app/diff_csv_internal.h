// Internals of the -diff reader (app/diff_csv.h), open to its tests and fuzzer: the
// CSV record parser, the reader that turns records into subtractions, and the number
// rule. Each object is owned by one caller and used by one thread; none is copyable.
// Memory is fixed whatever the input: no allocation, bounded field prefixes.

// Reading is streamed in three layers, each usable on its own:
//   CsvField / CsvRecord  one field and one record as the parser hands them over;
//   CsvRecordParser       bytes to records (quotes, doubled quotes, CR, LF, CR LF);
//   DiffCsvReader         records to subtractions: row 0 is the header, whose field
//                         count H every later row must have.
// A record keeps only its first kCsvKeptFields fields (the rest are counted, not
// stored), and a field keeps only its first kCsvFieldKeptBytes bytes, which is enough
// to compare it with every type name. The number a field starts with is worked out as
// its bytes arrive, so cutting the text never changes it. Nothing is ever read past
// the end of a record: a field that a row does not have is empty (names no type,
// number 0).
#pragma once

#include <cstdint>

#include "app/diff_csv.h"
#include "app/run_state.h"

namespace qm {

inline constexpr int32_t kCsvKeptFields = 6;

// The two headers the CSV writer writes; the first line of a -diff file must be one.
inline constexpr char kConservativeHeader[] = "Type,Files,Blank,Comment,Punctuation,Code";
inline constexpr int64_t kConservativeHeaderLength = sizeof kConservativeHeader - 1;
inline constexpr char kGreedyHeader[] = "Type,Files,Blank,Comment,Code";
inline constexpr int64_t kGreedyHeaderLength = sizeof kGreedyHeader - 1;

inline constexpr int32_t kCsvFieldKeptBytes = 48;

// One CSV field: its length, its first kCsvFieldKeptBytes bytes and the number it
// starts with.
class CsvField {
 public:
  CsvField() { Clear(); }
  CsvField(const CsvField&) = delete;
  CsvField& operator=(const CsvField&) = delete;

  void Clear();
  void Add(uint8_t byte);

  // Bytes in the whole field (also those not kept).
  int64_t Length() const { return length_; }
  bool IsEmpty() const { return length_ == 0; }
  // The kept bytes: min(Length(), kCsvFieldKeptBytes) of them.
  const char* Kept() const { return kept_; }
  int32_t KeptLength() const {
    return length_ < kCsvFieldKeptBytes ? static_cast<int32_t>(length_) : kCsvFieldKeptBytes;
  }
  // True when the whole field equals text, byte for byte.
  bool Is(const char* text) const;
  // The number the field starts with (see app/diff_csv.h).
  int64_t Number() const { return number_; }

 private:
  enum class NumberState : uint8_t { kStart, kAfterSign, kDigits, kDone };

  int64_t length_;
  int64_t number_;
  NumberState numberState_;
  bool isNegative_;
  char kept_[kCsvFieldKeptBytes];
};

// One record: how many fields it had and the first kCsvKeptFields of them.
struct CsvRecord {
  CsvRecord() = default;
  CsvRecord(const CsvRecord&) = delete;
  CsvRecord& operator=(const CsvRecord&) = delete;

  // Field index of the record, or an empty field when the record has no such field
  // or it was not kept. Requires: index >= 0.
  const CsvField& Field(int64_t index) const;

  int64_t fieldCount = 0;
  CsvField fields[kCsvKeptFields];
};

// CsvRecordParser: splits bytes into records, one byte at a time.
//   - ',' outside quotes ends the current field and marks the record as delimited.
//   - '"' outside quotes starts quoting (and marks the record as delimited). Inside,
//     '""' is one '"'; a '"' followed by anything else ends quoting and that byte is
//     read again as outside quotes.
//   - CR, LF or CR LF outside quotes ends the record; its last field counts only when
//     the record was delimited, so an empty line is a record with no fields (and so
//     is a line without ',' or '"'). Inside quotes a line break belongs to the field.
//   - At the end of the input the field in progress counts when the record was
//     delimited or the field is not empty; the record counts only when an earlier one
//     was completed and it has a field.
// Feed and Finish return true when they completed a record; it is then in Record()
// until the next Feed or Finish.
class CsvRecordParser {
 public:
  CsvRecordParser() = default;
  CsvRecordParser(const CsvRecordParser&) = delete;
  CsvRecordParser& operator=(const CsvRecordParser&) = delete;

  bool Feed(uint8_t byte);
  // Ends the input. Requires: called once, after the last Feed.
  bool Finish();
  const CsvRecord& Record() const { return record_; }
  // Records completed so far.
  int64_t CompletedCount() const { return completedCount_; }

 private:
  CsvField& Current();
  void StartRecord();
  void EndField();

  CsvRecord record_;
  CsvField overflow_;  // takes the bytes of fields that are not kept
  int64_t completedCount_ = 0;
  bool isQuoting_ = false;
  bool isQuotePending_ = false;  // a '"' inside quotes, waiting for the next byte
  bool isAfterCr_ = false;       // the last byte was a CR that ended a record
  bool isDelimited_ = false;
  bool isRecordHandedOut_ = false;
};

// DiffCsvReader: parses CSV bytes and applies each data row to the totals as soon as
// it is complete. The first line (up to the first CR or LF, or the end) must be one of
// the two headers byte for byte, else HasBadRow() is true from its first wrong byte
// on and nothing is applied. Row 0 sets H, its field count. Each later row, while its field count
// is H: when field 0 is the display name of a type 1 to 17 (exact, case-sensitive),
// that type's lineCount becomes kDiffLineMarker and fields 1 to 5 are subtracted from
// its fileCount, blankLines, commentLines, (punctLines when H > 5, else codeLines) and
// codeLines. A row naming no type (the "Total" row among them) changes nothing. The
// first row whose field count differs from H makes HasBadRow() true; it and every
// later row are ignored, the rows before it stay applied. Each counter holds the
// exact sum of its value when the reader was made and the rows so far (kept in 128
// bits: 64 MiB of rows cannot reach 2^100), held within +-kDiffCounterLimit, so the
// order of the rows never changes the result.
class DiffCsvReader {
 public:
  explicit DiffCsvReader(CountTotals& totals);
  DiffCsvReader(const DiffCsvReader&) = delete;
  DiffCsvReader& operator=(const DiffCsvReader&) = delete;

  // Requires: next <= end; Finish not called yet.
  void Feed(const uint8_t* next, const uint8_t* end);
  // Ends the input. Requires: called once.
  void Finish();
  bool HasBadRow() const { return hasBadRow_; }
  // The saved mode, once the header has been read whole and matched.
  DiffLayout Layout() const { return layout_; }

 private:
  void Take(const CsvRecord& record);
  void MatchHeader(uint8_t byte);
  void EndHeader();

  // The counters a row changes, in the order of its fields 1 to 5 (the fourth is
  // punctuation; a greedy file's fourth number goes to code).
  enum Counter { kFiles, kBlank, kComment, kPunctuation, kCode, kCounterCount };
  void Subtract(FileTypeId type, Counter counter, int64_t amount);

  CountTotals& totals_;
  __int128 exact_[kTypeSlots][kCounterCount];
  CsvRecordParser parser_;
  int64_t headerFieldCount_ = 0;
  int64_t headerBytes_ = 0;
  DiffLayout layout_ = DiffLayout::kUnknown;
  bool isHeaderDone_ = false;
  bool isConservativeHeader_ = true;  // the header bytes so far begin this header
  bool isGreedyHeader_ = true;
  bool hasBadRow_ = false;
};

// The number a text starts with, by the rules in app/diff_csv.h.
int64_t ParseDiffNumber(const char* begin, const char* end);

}  // namespace qm
