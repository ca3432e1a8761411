// Fuzz target for the line classification engine. The first input byte picks the
// mode (bit 0: greedy when set) and the file type ((byte >> 1) % kTypeSlots: type 0,
// the default types and every language-table type); the rest is the text. The text is copied into a buffer of
// exactly its size so that any read past its end is caught by the address sanitizer. Besides memory safety it
// checks exactness: every line lands in exactly one category, the line total equals the lines of the text,
// and greedy mode counts no punctuation. Classified with kinds, every line gets exactly one kind, the
// kinds add up to the same counters, and the counting is that of the plain call. For the brace languages and
// those read by the Python scanner the fast scanner must also agree, counter for counter, with the plain
// byte-by-byte scan it is an optimisation of (the vector search, the memos, the bracket counting by blocks of
// four bytes).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "count/brace_scanner.h"
#include "count/classify_text.h"
#include "count/language_table.h"
#include "count/python_scanner.h"

namespace {

// Line breaks (CR LF as one) plus a last line without a break.
int64_t CountTextLines(const uint8_t* text, size_t length) {
  int64_t lines = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 == length || text[i + 1] != '\n'))) ++lines;
  }
  if (length > 0 && text[length - 1] != '\n' && text[length - 1] != '\r') ++lines;
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size - 1 > INT32_MAX) return 0;
  const bool conservative = (data[0] & 1) == 0;
  static_assert(qm::kTypeSlots <= 128, "every type reachable from the first byte");
  const qm::FileTypeId type = (data[0] >> 1) % qm::kTypeSlots;
  const size_t length = size - 1;
  std::unique_ptr<uint8_t[]> text(new uint8_t[length]);
  if (length > 0) std::memcpy(text.get(), data + 1, length);

  qm::BuildCharClassTable(conservative);
  qm::LineTotals totals;
  totals.ResetLines();
  qm::ClassifyText(totals, type, text.get(), static_cast<int32_t>(length));

  const int64_t categories =
      totals.blankLines[type] + totals.commentLines[type] + totals.codeLines[type] + totals.punctLines[type];
  const int64_t expectedLines = type == qm::kTypeUnknown ? 0 : CountTextLines(text.get(), length);
  if (totals.lineCount[type] != categories || totals.lineCount[type] != expectedLines) std::abort();
  if (!conservative && totals.punctLines[type] != 0) std::abort();

  // Per-line kinds: an entry per line, each written once with a kind, summing to the counters.
  if (qm::CountTextLines(text.get(), static_cast<int64_t>(length)) != CountTextLines(text.get(), length)) {
    std::abort();
  }
  const size_t lineCount = static_cast<size_t>(expectedLines);
  std::unique_ptr<uint8_t[]> kinds(new uint8_t[lineCount > 0 ? lineCount : 1]);
  std::memset(kinds.get(), 0xFF, lineCount);
  qm::LineTotals byKind;
  byKind.ResetLines();
  qm::ClassifyText(byKind, type, text.get(), static_cast<int32_t>(length), kinds.get());
  int64_t kindSums[4] = {};
  for (size_t i = 0; i < lineCount; ++i) {
    if (kinds[i] > qm::kLinePunctuation) std::abort();
    ++kindSums[kinds[i]];
  }
  if (byKind.lineCount[type] != totals.lineCount[type] ||
      byKind.blankLines[type] != totals.blankLines[type] ||
      byKind.commentLines[type] != totals.commentLines[type] ||
      byKind.codeLines[type] != totals.codeLines[type] ||
      byKind.punctLines[type] != totals.punctLines[type]) {
    std::abort();
  }
  if (type != qm::kTypeUnknown && (kindSums[qm::kLineBlank] != totals.blankLines[type] ||
                                   kindSums[qm::kLineComment] != totals.commentLines[type] ||
                                   kindSums[qm::kLineCode] != totals.codeLines[type] ||
                                   kindSums[qm::kLinePunctuation] != totals.punctLines[type])) {
    std::abort();
  }

  const bool isPython = type == qm::kTypePython || qm::IsPythonTableType(type);
  const bool isBrace = type != qm::kTypeUnknown && type != qm::kTypeLua && !isPython &&
                       type != qm::kTypePascal && (type < qm::kTypeFirstTable || qm::IsBraceTableType(type));
  if ((isBrace || isPython) && length > 0) {
    qm::LineTotals plain;
    plain.ResetLines();
    (isPython ? qm::ScanPythonBytewise : qm::ScanBraceLanguageBytewise)(plain, type, text.get(),
                                                                        static_cast<int32_t>(length));
    if (plain.lineCount[type] != totals.lineCount[type] ||
        plain.blankLines[type] != totals.blankLines[type] ||
        plain.commentLines[type] != totals.commentLines[type] ||
        plain.codeLines[type] != totals.codeLines[type] ||
        plain.punctLines[type] != totals.punctLines[type]) {
      std::abort();
    }
  }
  return 0;
}
