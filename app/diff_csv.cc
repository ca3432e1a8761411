#include "app/diff_csv.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/diff_csv_internal.h"
#include "app/file_types.h"
#include "app/message_output.h"

namespace qm {

namespace {

constexpr int64_t kInt64Max = INT64_MAX;
constexpr int64_t kInt64Min = INT64_MIN;

int64_t Bounded(__int128 value) {
  if (value > kDiffCounterLimit) return kDiffCounterLimit;
  if (value < -kDiffCounterLimit) return -kDiffCounterLimit;
  return static_cast<int64_t>(value);
}

int64_t* CounterOf(CountTotals& totals, FileTypeId type, int counter) {
  int64_t* const counters[] = {totals.fileCount, totals.blankLines, totals.commentLines, totals.punctLines,
                               totals.codeLines};
  return &counters[counter][type];
}

// Type 1 to 17 whose display name the field is, or kTypeUnknown.
FileTypeId TypeNamed(const CsvField& field) {
  for (FileTypeId type = 1; type < kTypeInvalid; ++type) {
    if (field.Is(TypeNames[type])) return type;
  }
  return kTypeUnknown;
}

const CsvField& EmptyField() {
  static const CsvField empty;
  return empty;
}

}  // namespace

void CsvField::Clear() {
  length_ = 0;
  number_ = 0;
  numberState_ = NumberState::kStart;
  isNegative_ = false;
}

void CsvField::Add(uint8_t byte) {
  if (length_ < kCsvFieldKeptBytes) kept_[length_] = static_cast<char>(byte);
  ++length_;
  if (numberState_ == NumberState::kDone) return;
  const bool isDigit = byte >= '0' && byte <= '9';
  if (numberState_ == NumberState::kStart && (byte == '+' || byte == '-')) {
    isNegative_ = byte == '-';
    numberState_ = NumberState::kAfterSign;
    return;
  }
  if (!isDigit) {
    numberState_ = NumberState::kDone;
    return;
  }
  numberState_ = NumberState::kDigits;
  // A negative number is built downwards so that INT64_MIN itself is reachable.
  const int64_t digit = byte - '0';
  int64_t scaled;
  int64_t next;
  if (__builtin_mul_overflow(number_, 10, &scaled) ||
      (isNegative_ ? __builtin_sub_overflow(scaled, digit, &next)
                   : __builtin_add_overflow(scaled, digit, &next))) {
    next = isNegative_ ? kInt64Min : kInt64Max;
  }
  number_ = next;
}

bool CsvField::Is(const char* text) const {
  const size_t textLength = std::strlen(text);
  return static_cast<uint64_t>(length_) == textLength && textLength <= kCsvFieldKeptBytes &&
         std::memcmp(kept_, text, textLength) == 0;
}

const CsvField& CsvRecord::Field(int64_t index) const {
  if (index < 0 || index >= fieldCount || index >= kCsvKeptFields) return EmptyField();
  return fields[index];
}

CsvField& CsvRecordParser::Current() {
  // Fields past the kept ones are only counted; their bytes go to a scratch field
  // that nobody reads (the record is delimited by then, so its emptiness never
  // matters).
  if (record_.fieldCount < kCsvKeptFields) return record_.fields[record_.fieldCount];
  return overflow_;
}

void CsvRecordParser::StartRecord() {
  record_.fieldCount = 0;
  record_.fields[0].Clear();
  isDelimited_ = false;
  isRecordHandedOut_ = false;
}

void CsvRecordParser::EndField() {
  ++record_.fieldCount;
  if (record_.fieldCount < kCsvKeptFields) record_.fields[record_.fieldCount].Clear();
}

bool CsvRecordParser::Feed(uint8_t byte) {
  if (isRecordHandedOut_) StartRecord();
  if (isAfterCr_) {
    isAfterCr_ = false;
    if (byte == '\n') return false;
  }
  if (isQuotePending_) {
    isQuotePending_ = false;
    if (byte == '"') {
      Current().Add('"');
      return false;
    }
    isQuoting_ = false;  // and the byte is read again below as outside quotes
  }
  if (isQuoting_) {
    if (byte == '"') {
      isQuotePending_ = true;
    } else {
      Current().Add(byte);
    }
    return false;
  }
  switch (byte) {
    case ',':
      EndField();
      isDelimited_ = true;
      return false;
    case '"':
      isQuoting_ = true;
      isDelimited_ = true;
      return false;
    case '\r':
    case '\n':
      isAfterCr_ = byte == '\r';
      if (isDelimited_) EndField();
      ++completedCount_;
      isRecordHandedOut_ = true;
      return true;
    default:
      Current().Add(byte);
      return false;
  }
}

bool CsvRecordParser::Finish() {
  if (isRecordHandedOut_) StartRecord();
  isQuoting_ = false;
  isQuotePending_ = false;
  if (isDelimited_ || !Current().IsEmpty()) EndField();
  if (completedCount_ == 0 || record_.fieldCount == 0) return false;
  ++completedCount_;
  isRecordHandedOut_ = true;
  return true;
}

DiffCsvReader::DiffCsvReader(CountTotals& totals) : totals_(totals) {
  for (FileTypeId type = 0; type < kTypeSlots; ++type) {
    for (int counter = 0; counter < kCounterCount; ++counter)
      exact_[type][counter] = *CounterOf(totals, type, counter);
  }
}

void DiffCsvReader::Subtract(FileTypeId type, Counter counter, int64_t amount) {
  exact_[type][counter] -= amount;
  *CounterOf(totals_, type, counter) = Bounded(exact_[type][counter]);
}

void DiffCsvReader::Take(const CsvRecord& record) {
  if (hasBadRow_) return;
  if (parser_.CompletedCount() == 1) {
    headerFieldCount_ = record.fieldCount;
    return;
  }
  if (record.fieldCount != headerFieldCount_) {
    hasBadRow_ = true;
    return;
  }
  const FileTypeId type = TypeNamed(record.Field(0));
  if (type == kTypeUnknown) return;
  totals_.lineCount[type] = kDiffLineMarker;
  Subtract(type, kFiles, record.Field(1).Number());
  Subtract(type, kBlank, record.Field(2).Number());
  Subtract(type, kComment, record.Field(3).Number());
  Subtract(type, headerFieldCount_ > 5 ? kPunctuation : kCode, record.Field(4).Number());
  Subtract(type, kCode, record.Field(5).Number());
}

// The first line is matched against both headers as its bytes arrive, so input that
// is no saved CSV (/dev/zero, a binary file) is refused at its first wrong byte.
void DiffCsvReader::MatchHeader(uint8_t byte) {
  if (byte == '\r' || byte == '\n') {
    EndHeader();
    return;
  }
  const auto matches = [this, byte](const char* header, int64_t length) {
    return headerBytes_ < length && static_cast<uint8_t>(header[headerBytes_]) == byte;
  };
  isConservativeHeader_ = isConservativeHeader_ && matches(kConservativeHeader, kConservativeHeaderLength);
  isGreedyHeader_ = isGreedyHeader_ && matches(kGreedyHeader, kGreedyHeaderLength);
  ++headerBytes_;
  if (!isConservativeHeader_ && !isGreedyHeader_) hasBadRow_ = true;
}

void DiffCsvReader::EndHeader() {
  isHeaderDone_ = true;
  if (isConservativeHeader_ && headerBytes_ == kConservativeHeaderLength) {
    layout_ = DiffLayout::kConservative;
  } else if (isGreedyHeader_ && headerBytes_ == kGreedyHeaderLength) {
    layout_ = DiffLayout::kGreedy;
  } else {
    hasBadRow_ = true;
  }
}

void DiffCsvReader::Feed(const uint8_t* next, const uint8_t* end) {
  for (; next != end && !hasBadRow_; ++next) {
    if (!isHeaderDone_) {
      MatchHeader(*next);
      if (hasBadRow_) return;
    }
    if (parser_.Feed(*next)) Take(parser_.Record());
  }
}

void DiffCsvReader::Finish() {
  if (hasBadRow_) return;
  if (!isHeaderDone_) EndHeader();
  if (!hasBadRow_ && parser_.Finish()) Take(parser_.Record());
}

int64_t ParseDiffNumber(const char* begin, const char* end) {
  CsvField field;
  for (; begin != end; ++begin) field.Add(static_cast<uint8_t>(*begin));
  return field.Number();
}

bool ApplyDiffCsv(const uint8_t* next, const uint8_t* end, CountTotals& totals) {
  DiffCsvReader reader(totals);
  reader.Feed(next, end);
  reader.Finish();
  return !reader.HasBadRow();
}

bool LoadDiffCsv(const SharedString& fileName, CountTotals& totals, DiffLayout& layout,
                 MessageOutput& output) {
  layout = DiffLayout::kUnknown;
  const SharedString shownName = Shown(fileName);
  // Opened blocking: a FIFO (process substitution) is waited for, as cat would.
  int descriptor;
  do {
    descriptor = open(fileName.CStr(), O_RDONLY | O_CLOEXEC);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) {
    const int reason = errno;
    output.Error("Failed to open diff CSV: %s: %s\n", shownName.CStr(), std::strerror(reason));
    return false;
  }
  DiffCsvReader reader(totals);
  uint8_t chunk[4096];
  int64_t totalBytes = 0;
  int readErrno = 0;
  bool isTooLong = false;
  while (!reader.HasBadRow()) {
    const ssize_t bytesRead = read(descriptor, chunk, sizeof chunk);
    if (bytesRead < 0 && errno == EINTR) continue;
    if (bytesRead < 0) readErrno = errno;
    if (bytesRead <= 0) break;
    // No saved CSV is this long; the piece that crosses the bound is not applied.
    if (totalBytes + bytesRead > kMaxDiffCsvBytes) {
      isTooLong = true;
      break;
    }
    totalBytes += bytesRead;
    reader.Feed(chunk, chunk + bytesRead);
  }
  close(descriptor);
  // A path that opens but cannot be read (a directory) is as unusable as a missing one.
  if (readErrno != 0) {
    output.Error("Failed to open diff CSV: %s: %s\n", shownName.CStr(), std::strerror(readErrno));
    return false;
  }
  if (!isTooLong) reader.Finish();
  layout = reader.Layout();
  if (reader.HasBadRow() || isTooLong) {
    output.Error("Failed to parse diff CSV: %s\n", shownName.CStr());
    return false;
  }
  return true;
}

}  // namespace qm
