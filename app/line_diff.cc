#include "app/line_diff.h"

#include <cstring>

#include "core/hash_table.h"

namespace qm {

namespace {

// Lines become numbers, equal lines the same number, so the search compares integers.
// A line's number is found through a table keyed by its 64-bit hash whose entries chain
// the distinct lines of that hash (compared byte for byte).
class LineNumbers {
 public:
  int32_t NumberOf(const LineSpan& line) {
    const uint64_t hash = Hash(line);
    DigestKey key;
    std::memcpy(key.bytes, &hash, 8);
    std::memset(key.bytes + 8, 0, 8);
    const int32_t knownHashes = byHash_.Count();
    const int32_t index = byHash_.FindOrInsert(key);
    int32_t& head = byHash_.Value(index);
    if (index >= knownHashes) head = -1;
    for (int32_t at = head; at >= 0; at = next_[at]) {
      const LineSpan& known = lines_[at];
      if (known.length == line.length &&
          std::memcmp(known.bytes, line.bytes, static_cast<size_t>(line.length)) == 0) {
        return at;
      }
    }
    const int32_t number = lines_.Count();
    lines_.PushBack(line);
    next_.PushBack(head);
    head = number;
    return number;
  }

  int32_t Count() const { return lines_.Count(); }

 private:
  static uint64_t Hash(const LineSpan& line) {
    // FNV-1a over the bytes, then mixed (SplitMix64's finaliser) so every bit counts.
    uint64_t hash = 14695981039346656037ull;
    for (int32_t i = 0; i < line.length; ++i) hash = (hash ^ line.bytes[i]) * 1099511628211ull;
    hash = (hash ^ (hash >> 30)) * 0xbf58476d1ce4e5b9ull;
    hash = (hash ^ (hash >> 27)) * 0x94d049bb133111ebull;
    return hash ^ (hash >> 31);
  }

  HashTable<DigestKey, int32_t, DigestKeyTraits, false> byHash_;
  Array<LineSpan> lines_;
  Array<int32_t> next_;
};

// The search over a[aLo, aHi) and b[bLo, bHi) (line numbers), marking the lines of each
// side that are not matched. Ranges wait on an explicit stack, so no input makes the
// call stack deep.
class Differ {
 public:
  Differ(const Array<int32_t>& a, const Array<int32_t>& b, Array<uint8_t>& aChanged, Array<uint8_t>& bChanged)
      : a_(a), b_(b), aChanged_(aChanged), bChanged_(bChanged) {}

  void Run() {
    pending_.PushBack(Range{0, a_.Count(), 0, b_.Count()});
    while (!pending_.IsEmpty()) {
      const Range range = pending_.Back();
      pending_.PopBack();
      Solve(range);
    }
  }

 private:
  struct Range {
    int32_t aLo, aHi, bLo, bHi;
  };

  void MarkAll(const Range& range) {
    for (int32_t i = range.aLo; i < range.aHi; ++i) aChanged_[i] = 1;
    for (int32_t j = range.bLo; j < range.bHi; ++j) bChanged_[j] = 1;
  }

  void Solve(Range range) {
    // The common start and end are matched at once.
    while (range.aLo < range.aHi && range.bLo < range.bHi && a_[range.aLo] == b_[range.bLo]) {
      ++range.aLo;
      ++range.bLo;
    }
    while (range.aLo < range.aHi && range.bLo < range.bHi && a_[range.aHi - 1] == b_[range.bHi - 1]) {
      --range.aHi;
      --range.bHi;
    }
    if (range.aLo == range.aHi || range.bLo == range.bHi || cost_ > kMaxDiffCost) {
      MarkAll(range);
      return;
    }
    int32_t x = 0;
    int32_t y = 0;
    if (!FindMiddle(range, x, y)) {
      MarkAll(range);
      return;
    }
    // Both halves are solved the same way; the split point lies on a shortest path.
    pending_.PushBack(Range{range.aLo + x, range.aHi, range.bLo + y, range.bHi});
    pending_.PushBack(Range{range.aLo, range.aLo + x, range.bLo, range.bLo + y});
  }

  // Myers' middle snake: searches from both ends at once, d edits at a time, and
  // stops where the two searches meet on a diagonal; (x, y) is that point, relative to
  // the range. False when the cost bound is passed first.
  bool FindMiddle(const Range& range, int32_t& xOut, int32_t& yOut) {
    const int32_t n = range.aHi - range.aLo;
    const int32_t m = range.bHi - range.bLo;
    const int32_t* a = a_.Data() + range.aLo;
    const int32_t* b = b_.Data() + range.bLo;
    const int32_t maxD = (n + m + 1) / 2;
    const int32_t offset = maxD;
    const int32_t length = 2 * maxD + 2;
    forward_.Resize(length);
    backward_.Resize(length);
    for (int32_t i = 0; i < length; ++i) forward_[i] = backward_[i] = -1;
    forward_[offset + 1] = 0;
    backward_[offset + 1] = 0;
    const int32_t delta = n - m;
    const bool isOdd = (delta & 1) != 0;
    int32_t k1Start = 0, k1End = 0, k2Start = 0, k2End = 0;
    for (int32_t d = 0; d < maxD; ++d) {
      // Each round looks at up to d + 1 diagonals from each end.
      cost_ += 2 * int64_t{d} + 2;
      if (cost_ > kMaxDiffCost) return false;
      for (int32_t k1 = -d + k1Start; k1 <= d - k1End; k1 += 2) {
        const int32_t k1Offset = offset + k1;
        int32_t x1 = k1 == -d || (k1 != d && forward_[k1Offset - 1] < forward_[k1Offset + 1])
                         ? forward_[k1Offset + 1]
                         : forward_[k1Offset - 1] + 1;
        int32_t y1 = x1 - k1;
        const int32_t snakeStart = x1;
        while (x1 < n && y1 < m && a[x1] == b[y1]) {
          ++x1;
          ++y1;
        }
        cost_ += x1 - snakeStart;
        forward_[k1Offset] = x1;
        if (x1 > n) {
          k1End += 2;
        } else if (y1 > m) {
          k1Start += 2;
        } else if (isOdd) {
          const int32_t k2Offset = offset + delta - k1;
          if (k2Offset >= 0 && k2Offset < length && backward_[k2Offset] != -1 &&
              x1 >= n - backward_[k2Offset]) {
            xOut = x1;
            yOut = y1;
            return true;
          }
        }
      }
      for (int32_t k2 = -d + k2Start; k2 <= d - k2End; k2 += 2) {
        const int32_t k2Offset = offset + k2;
        int32_t x2 = k2 == -d || (k2 != d && backward_[k2Offset - 1] < backward_[k2Offset + 1])
                         ? backward_[k2Offset + 1]
                         : backward_[k2Offset - 1] + 1;
        int32_t y2 = x2 - k2;
        const int32_t snakeStart = x2;
        while (x2 < n && y2 < m && a[n - x2 - 1] == b[m - y2 - 1]) {
          ++x2;
          ++y2;
        }
        cost_ += x2 - snakeStart;
        backward_[k2Offset] = x2;
        if (x2 > n) {
          k2End += 2;
        } else if (y2 > m) {
          k2Start += 2;
        } else if (!isOdd) {
          const int32_t k1Offset = offset + delta - k2;
          if (k1Offset >= 0 && k1Offset < length && forward_[k1Offset] != -1) {
            const int32_t x1 = forward_[k1Offset];
            const int32_t y1 = offset + x1 - k1Offset;
            if (x1 >= n - x2) {
              xOut = x1;
              yOut = y1;
              return true;
            }
          }
        }
      }
    }
    return false;
  }

  const Array<int32_t>& a_;
  const Array<int32_t>& b_;
  Array<uint8_t>& aChanged_;
  Array<uint8_t>& bChanged_;
  Array<Range> pending_;
  Array<int32_t> forward_;
  Array<int32_t> backward_;
  int64_t cost_ = 0;
};

// A line that one side lacks is a change in every diff: such lines are marked at once
// and the search runs over the others alone (often far fewer changes to search for,
// and the same least number of them), its marks then put back in place.
void MarkChanges(const Array<int32_t>& a, const Array<int32_t>& b, int32_t distinctLines,
                 Array<uint8_t>& aChanged, Array<uint8_t>& bChanged) {
  Array<uint8_t> inA;
  Array<uint8_t> inB;
  inA.Resize(distinctLines);
  inB.Resize(distinctLines);
  for (const int32_t number : a) inA[number] = 1;
  for (const int32_t number : b) inB[number] = 1;
  aChanged.Resize(a.Count());
  bChanged.Resize(b.Count());
  Array<int32_t> aKept;  // of a's lines that b holds too: their numbers, then where they are
  Array<int32_t> bKept;
  Array<int32_t> aAt;
  Array<int32_t> bAt;
  for (int32_t i = 0; i < a.Count(); ++i) {
    aChanged[i] = inB[a[i]] == 0 ? 1 : 0;
    if (aChanged[i] != 0) continue;
    aKept.PushBack(a[i]);
    aAt.PushBack(i);
  }
  for (int32_t j = 0; j < b.Count(); ++j) {
    bChanged[j] = inA[b[j]] == 0 ? 1 : 0;
    if (bChanged[j] != 0) continue;
    bKept.PushBack(b[j]);
    bAt.PushBack(j);
  }
  Array<uint8_t> aKeptChanged;
  Array<uint8_t> bKeptChanged;
  aKeptChanged.Resize(aKept.Count());
  bKeptChanged.Resize(bKept.Count());
  Differ(aKept, bKept, aKeptChanged, bKeptChanged).Run();
  for (int32_t i = 0; i < aKept.Count(); ++i) aChanged[aAt[i]] = aKeptChanged[i];
  for (int32_t j = 0; j < bKept.Count(); ++j) bChanged[bAt[j]] = bKeptChanged[j];
}

}  // namespace

void SplitLines(const uint8_t* text, int64_t length, Array<LineSpan>& lines) {
  lines.Clear();
  const uint8_t* cursor = text;
  const uint8_t* const end = text + length;
  while (cursor < end) {
    const uint8_t* lineEnd = cursor;
    while (lineEnd < end && *lineEnd != '\n' && *lineEnd != '\r') ++lineEnd;
    if (lineEnd < end) lineEnd += *lineEnd == '\r' && lineEnd + 1 < end && lineEnd[1] == '\n' ? 2 : 1;
    lines.PushBack(LineSpan{cursor, static_cast<int32_t>(lineEnd - cursor)});
    cursor = lineEnd;
  }
}

void DiffLines(const Array<LineSpan>& oldLines, const Array<LineSpan>& newLines, Array<DiffRun>& runs) {
  runs.Clear();
  LineNumbers numbers;
  Array<int32_t> a;
  Array<int32_t> b;
  for (const LineSpan& line : oldLines) a.PushBack(numbers.NumberOf(line));
  for (const LineSpan& line : newLines) b.PushBack(numbers.NumberOf(line));
  Array<uint8_t> aChanged;
  Array<uint8_t> bChanged;
  MarkChanges(a, b, numbers.Count(), aChanged, bChanged);
  // Unchanged lines pair up in order; the changed ones between two pairs are a run's.
  int32_t i = 0;
  int32_t j = 0;
  while (i < a.Count() || j < b.Count()) {
    DiffRun run;
    while (i < a.Count() && j < b.Count() && aChanged[i] == 0 && bChanged[j] == 0) {
      ++run.same;
      ++i;
      ++j;
    }
    while (i < a.Count() && aChanged[i] != 0) {
      ++run.removed;
      ++i;
    }
    while (j < b.Count() && bChanged[j] != 0) {
      ++run.added;
      ++j;
    }
    runs.PushBack(run);
  }
}

}  // namespace qm
