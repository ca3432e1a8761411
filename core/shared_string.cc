#include "core/shared_string.h"

#include <atomic>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/allocation.h"
#include "core/little_endian.h"

namespace qm {

struct StringBlock {
  uint32_t capacity;
  int32_t length;
  std::atomic<uint32_t> refs;
  std::atomic<uint32_t> hash;
};

static_assert(sizeof(StringBlock) == 16, "four header words, then the text");
static_assert(std::atomic<uint32_t>::is_always_lock_free);

namespace {

// Header, terminator and three spare bytes.
constexpr size_t kBlockOverhead = 20;

const char kEmptyText[1] = {0};

char* TextOf(StringBlock* block) {
  return reinterpret_cast<char*>(block + 1);
}

StringBlock* NewBlock(uint32_t capacity) {
  void* memory = std::malloc(size_t{capacity} + kBlockOverhead);
  if (memory == nullptr) OutOfMemory();
  StringBlock* block = new (memory) StringBlock{capacity, 0, {1u}, {0u}};
  TextOf(block)[0] = 0;
  return block;
}

StringBlock* BlockFromBytes(const char* bytes, int32_t length) {
  StringBlock* block = NewBlock(static_cast<uint32_t>(length));
  std::memcpy(TextOf(block), bytes, static_cast<size_t>(length));
  TextOf(block)[length] = 0;
  block->length = length;
  return block;
}

// Called through a volatile pointer so the wipe of a dying block is never dropped as
// a dead store.
void* (*volatile wipeBytes)(void*, int, size_t) = std::memset;

void FreeBlock(StringBlock* block) {
  size_t sizeInBytes = size_t{block->capacity} + kBlockOverhead;
  block->~StringBlock();
  wipeBytes(block, 0, sizeInBytes);
  std::free(block);
}

// Growth rule: the capacity grows by half again, or to the new length when that is
// more; computed in 64 bits so a capacity near 2^31 cannot wrap.
uint32_t GrownCapacity(uint32_t capacity, int32_t newLength) {
  uint64_t grown = uint64_t{capacity} * 3 / 2;
  if (grown < static_cast<uint64_t>(newLength)) grown = static_cast<uint64_t>(newLength);
  if (grown > static_cast<uint64_t>(SharedString::kMaxLength)) grown = SharedString::kMaxLength;
  return static_cast<uint32_t>(grown);
}

// Length of [begin, end) with a null end meaning "up to the zero byte"; -1 when the
// range is unusable (null begin, end before begin, longer than a string may be).
int64_t RangeLength(const char* begin, const char* end) {
  if (begin == nullptr) return -1;
  size_t length;
  if (end == nullptr) {
    length = std::strlen(begin);
  } else {
    if (end < begin) return -1;
    length = static_cast<size_t>(end - begin);
  }
  if (length > static_cast<size_t>(SharedString::kMaxLength)) return -1;
  return static_cast<int64_t>(length);
}

int CompareBytes(const char* a, size_t aLength, const char* b, size_t bLength) {
  size_t common = aLength < bLength ? aLength : bLength;
  int order = common == 0 ? 0 : std::memcmp(a, b, common);  // memcmp compares unsigned
  if (order != 0) return order < 0 ? -1 : 1;
  if (aLength == bLength) return 0;
  return aLength < bLength ? -1 : 1;
}

int32_t FindBytes(const char* hay, int32_t hayLength, int32_t start, const char* needle,
                  int32_t needleLength) {
  if (start < 0) start = 0;
  if (hayLength == 0 || needleLength <= 0 || start >= hayLength) return -1;
  const char* cursor = hay + start;
  const char* end = hay + hayLength;
  const unsigned char first = static_cast<unsigned char>(needle[0]);
  while (end - cursor >= needleLength) {
    const void* hit = std::memchr(cursor, first, static_cast<size_t>(end - cursor - needleLength + 1));
    if (hit == nullptr) return -1;
    const char* candidate = static_cast<const char*>(hit);
    if (std::memcmp(candidate + 1, needle + 1, static_cast<size_t>(needleLength - 1)) == 0) {
      return static_cast<int32_t>(candidate - hay);
    }
    cursor = candidate + 1;
  }
  return -1;
}

bool IsTrimSpace(unsigned char byte) {
  return byte == 8 || byte == 9 || byte == 10 || byte == 11 || byte == 13 || byte == 32;
}

inline uint32_t RotateLeft(uint32_t value, int bits) {
  return (value << bits) | (value >> (32 - bits));
}

}  // namespace

// ---------------------------------------------------------------------------------
// Construction, release, assignment

SharedString::SharedString(const char* text) : block_(nullptr) {
  int64_t length = RangeLength(text, nullptr);
  if (length > 0) block_ = BlockFromBytes(text, static_cast<int32_t>(length));
}

SharedString::SharedString(const char* begin, const char* end) : block_(nullptr) {
  int64_t length = RangeLength(begin, end);
  if (length > 0) block_ = BlockFromBytes(begin, static_cast<int32_t>(length));
}

SharedString::SharedString(const SharedString& other) noexcept : block_(other.block_) {
  if (block_ != nullptr) block_->refs.fetch_add(1, std::memory_order_relaxed);
}

SharedString::~SharedString() {
  Release();
}

void SharedString::Release() noexcept {
  StringBlock* block = block_;
  block_ = nullptr;
  if (block != nullptr && block->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    FreeBlock(block);
  }
}

void SharedString::Clear() noexcept {
  Release();
}

SharedString& SharedString::operator=(SharedString&& other) noexcept {
  if (this != &other) {
    Release();
    block_ = other.block_;
    other.block_ = nullptr;
  }
  return *this;
}

SharedString& SharedString::operator=(const char* text) {
  // Built before the old block goes, in case text points into it.
  SharedString fresh(text);
  *this = static_cast<SharedString&&>(fresh);
  return *this;
}

void SharedString::Assign(const SharedString& other) noexcept {
  if (block_ == other.block_) return;
  StringBlock* shared = other.block_;
  if (shared != nullptr) shared->refs.fetch_add(1, std::memory_order_relaxed);
  Release();
  block_ = shared;
}

SharedString SharedString::FormatList(const char* format, va_list args) {
  if (format == nullptr) return SharedString();
  char buffer[kFormatBufferSize];
  buffer[0] = 0;
  int written = std::vsnprintf(buffer, sizeof buffer, format, args);
  if (written < 0) return SharedString();
  buffer[kFormatBufferSize - 1] = 0;
  return SharedString(buffer);
}

SharedString SharedString::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  SharedString result = FormatList(format, args);
  va_end(args);
  return result;
}

// ---------------------------------------------------------------------------------
// Accessors

char* SharedString::Text() const noexcept {
  return TextOf(block_);
}

int32_t SharedString::Length() const noexcept {
  return block_ == nullptr ? 0 : block_->length;
}

const char* SharedString::CStr() const noexcept {
  return block_ == nullptr ? kEmptyText : TextOf(block_);
}

char SharedString::operator[](int32_t index) const noexcept {
  assert(index >= 0 && index < Length());
  return CStr()[index];
}

uint32_t SharedString::Hash() const noexcept {
  if (block_ == nullptr) return HashBytes(nullptr, 0);
  uint32_t cached = block_->hash.load(std::memory_order_relaxed);
  if (cached != 0) return cached;
  uint32_t computed = HashBytes(TextOf(block_), static_cast<size_t>(block_->length));
  block_->hash.store(computed, std::memory_order_seq_cst);
  return computed;
}

uint32_t SharedString::RefCount() const noexcept {
  return block_ == nullptr ? 0 : block_->refs.load(std::memory_order_relaxed);
}

int32_t SharedString::Capacity() const noexcept {
  return block_ == nullptr ? 0 : static_cast<int32_t>(block_->capacity);
}

// ---------------------------------------------------------------------------------
// Comparison and search

int SharedString::Compare(const char* text) const noexcept {
  return Compare(text, nullptr);
}

int SharedString::Compare(const char* begin, const char* end) const noexcept {
  if (begin == nullptr) return -2;
  size_t otherLength =
      end == nullptr ? std::strlen(begin) : (end > begin ? static_cast<size_t>(end - begin) : 0);
  return CompareBytes(CStr(), static_cast<size_t>(Length()), begin, otherLength);
}

int SharedString::Compare(const SharedString& other) const noexcept {
  if (block_ == other.block_) return 0;
  return CompareBytes(CStr(), static_cast<size_t>(Length()), other.CStr(),
                      static_cast<size_t>(other.Length()));
}

bool SharedString::operator==(const SharedString& other) const noexcept {
  if (block_ == other.block_) return true;
  int32_t length = Length();
  if (length != other.Length()) return false;
  return length == 0 || std::memcmp(CStr(), other.CStr(), static_cast<size_t>(length)) == 0;
}

int32_t SharedString::Find(const char* needle, int32_t start) const noexcept {
  return Find(needle, nullptr, start);
}

int32_t SharedString::Find(const char* begin, const char* end, int32_t start) const noexcept {
  assert(start >= 0);
  int64_t needleLength = RangeLength(begin, end);
  if (needleLength <= 0) return -1;
  return FindBytes(CStr(), Length(), start, begin, static_cast<int32_t>(needleLength));
}

int32_t SharedString::Find(const SharedString& needle, int32_t start) const noexcept {
  assert(start >= 0);
  return FindBytes(CStr(), Length(), start, needle.CStr(), needle.Length());
}

bool SharedString::StartsWith(const char* prefix) const noexcept {
  return StartsWith(prefix, nullptr);
}

bool SharedString::StartsWith(const char* begin, const char* end) const noexcept {
  int64_t prefixLength = RangeLength(begin, end);
  if (prefixLength <= 0 || prefixLength > Length()) return false;
  return std::memcmp(CStr(), begin, static_cast<size_t>(prefixLength)) == 0;
}

bool SharedString::EndsWith(const char* suffix) const noexcept {
  return EndsWith(suffix, nullptr);
}

bool SharedString::EndsWith(const char* begin, const char* end) const noexcept {
  int64_t suffixLength = RangeLength(begin, end);
  int32_t length = Length();
  if (suffixLength <= 0 || suffixLength > length) return false;
  return std::memcmp(CStr() + length - suffixLength, begin, static_cast<size_t>(suffixLength)) == 0;
}

bool SharedString::EndsWith(const SharedString& suffix) const noexcept {
  return EndsWith(suffix.CStr(), suffix.CStr() + suffix.Length());
}

// ---------------------------------------------------------------------------------
// Changes

void SharedString::ClearHash() noexcept {
  block_->hash.store(0, std::memory_order_relaxed);
}

bool SharedString::PointsIntoBlock(const char* bytes) const noexcept {
  if (block_ == nullptr) return false;
  uintptr_t at = reinterpret_cast<uintptr_t>(bytes);
  uintptr_t text = reinterpret_cast<uintptr_t>(TextOf(block_));
  return at >= text && at <= text + block_->capacity;
}

void SharedString::MakeUnique() {
  if (block_ == nullptr || block_->refs.load(std::memory_order_acquire) == 1) return;
  StringBlock* copy = BlockFromBytes(TextOf(block_), block_->length);
  Release();
  block_ = copy;
}

void SharedString::Splice(int32_t index, int32_t removeCount, const char* source, int32_t insertCount) {
  int32_t length = Length();
  assert(index >= 0 && index <= length);
  assert(removeCount >= 0 && removeCount <= length - index);
  assert(insertCount >= 0);
  if (removeCount == 0 && insertCount == 0) return;
  int64_t wide = int64_t{length} - removeCount + insertCount;
  if (wide > kMaxLength) return;
  int32_t newLength = static_cast<int32_t>(wide);

  if (block_ == nullptr) {
    block_ = BlockFromBytes(source, insertCount);
    return;
  }
  char* text = TextOf(block_);
  // Bytes that live in this very block are copied out first: the in-place moves
  // below would overwrite them.
  if (insertCount > 0 && PointsIntoBlock(source)) {
    SharedString copy(source, source + insertCount);
    Splice(index, removeCount, copy.CStr(), insertCount);
    return;
  }

  bool isShared = block_->refs.load(std::memory_order_acquire) != 1;
  if (isShared && newLength == 0) {
    Release();
    return;
  }
  // A shared block is first copied at its own length, so that is the capacity the
  // growth rule starts from.
  uint32_t baseCapacity = isShared ? static_cast<uint32_t>(length) : block_->capacity;
  int32_t tailLength = length - index - removeCount;
  if (!isShared && static_cast<uint32_t>(newLength) <= baseCapacity) {
    std::memmove(text + index + insertCount, text + index + removeCount, static_cast<size_t>(tailLength));
    if (insertCount > 0) std::memcpy(text + index, source, static_cast<size_t>(insertCount));
    text[newLength] = 0;
    block_->length = newLength;
    ClearHash();
    return;
  }
  uint32_t capacity = static_cast<uint32_t>(newLength) <= baseCapacity
                          ? baseCapacity
                          : GrownCapacity(baseCapacity, newLength);
  StringBlock* grown = NewBlock(capacity);
  char* out = TextOf(grown);
  std::memcpy(out, text, static_cast<size_t>(index));
  if (insertCount > 0) std::memcpy(out + index, source, static_cast<size_t>(insertCount));
  std::memcpy(out + index + insertCount, text + index + removeCount, static_cast<size_t>(tailLength));
  out[newLength] = 0;
  grown->length = newLength;
  Release();
  block_ = grown;
}

void SharedString::Append(const char* bytes, int32_t count) {
  if (bytes == nullptr || count <= 0) return;
  Splice(Length(), 0, bytes, count);
}

void SharedString::Append(const char* text) {
  int64_t length = RangeLength(text, nullptr);
  if (length > 0) Splice(Length(), 0, text, static_cast<int32_t>(length));
}

void SharedString::Append(const SharedString& other) {
  if (other.IsEmpty()) return;
  if (IsEmpty()) {
    Assign(other);
    return;
  }
  Splice(Length(), 0, other.CStr(), other.Length());
}

void SharedString::Insert(int32_t index, const char* begin, const char* end) {
  int64_t count = RangeLength(begin, end);
  if (count <= 0) return;
  int32_t length = Length();
  if (index < 0) index = 0;
  if (index > length) index = length;
  Splice(index, 0, begin, static_cast<int32_t>(count));
}

int32_t SharedString::Erase(int32_t index, int32_t count) {
  int32_t length = Length();
  if (index < 0) index = 0;
  if (index >= length) return length;
  if (count < 0 || count > length - index) count = length - index;
  Splice(index, count, nullptr, 0);
  return Length();
}

int32_t SharedString::EraseLeft(int32_t count) {
  int32_t length = Length();
  if (count < 0 || count > length) count = length;
  return Erase(0, count);
}

int32_t SharedString::ReplaceAll(const char* fromBegin, const char* fromEnd, const char* toBegin,
                                 const char* toEnd) {
  int64_t fromLength = RangeLength(fromBegin, fromEnd);
  if (fromLength <= 0 || IsEmpty()) return 0;
  int64_t toLength = toBegin == nullptr ? 0 : RangeLength(toBegin, toEnd);
  if (toLength < 0) return 0;
  // A pattern that points into this string is copied first: the string is about to
  // change under it.
  SharedString fromCopy;
  SharedString toCopy;
  const char* from = fromBegin;
  const char* to = toLength > 0 ? toBegin : "";
  if (PointsIntoBlock(from)) {
    fromCopy = SharedString(fromBegin, fromBegin + fromLength);
    from = fromCopy.CStr();
  }
  if (toLength > 0 && PointsIntoBlock(to)) {
    toCopy = SharedString(toBegin, toBegin + toLength);
    to = toCopy.CStr();
  }
  int32_t fromCount = static_cast<int32_t>(fromLength);
  int32_t toCount = static_cast<int32_t>(toLength);

  int32_t length = Length();
  const char* text = CStr();
  int32_t replacements = 0;
  for (int32_t at = FindBytes(text, length, 0, from, fromCount); at >= 0;
       at = FindBytes(text, length, at + fromCount, from, fromCount)) {
    ++replacements;
  }
  if (replacements == 0) return 0;
  int64_t wide = int64_t{length} + int64_t{replacements} * (toCount - fromCount);
  if (wide > kMaxLength) return 0;
  int32_t newLength = static_cast<int32_t>(wide);

  bool isShared = block_->refs.load(std::memory_order_acquire) != 1;
  if (isShared && newLength == 0) {
    Release();
    return replacements;
  }
  char* source = Text();
  if (!isShared && toCount <= fromCount) {
    // Shrinking in place: the write cursor never passes the read cursor.
    int32_t read = 0;
    int32_t write = 0;
    for (int32_t at = FindBytes(source, length, 0, from, fromCount); at >= 0;
         at = FindBytes(source, length, read, from, fromCount)) {
      std::memmove(source + write, source + read, static_cast<size_t>(at - read));
      write += at - read;
      if (toCount > 0) std::memcpy(source + write, to, static_cast<size_t>(toCount));
      write += toCount;
      read = at + fromCount;
    }
    std::memmove(source + write, source + read, static_cast<size_t>(length - read));
    write += length - read;
    assert(write == newLength);
    source[newLength] = 0;
    block_->length = newLength;
    ClearHash();
    return replacements;
  }
  uint32_t baseCapacity = isShared ? static_cast<uint32_t>(length) : block_->capacity;
  uint32_t capacity = static_cast<uint32_t>(newLength) <= baseCapacity
                          ? baseCapacity
                          : GrownCapacity(baseCapacity, newLength);
  StringBlock* grown = NewBlock(capacity);
  char* out = TextOf(grown);
  int32_t read = 0;
  for (int32_t at = FindBytes(source, length, 0, from, fromCount); at >= 0;
       at = FindBytes(source, length, read, from, fromCount)) {
    std::memcpy(out, source + read, static_cast<size_t>(at - read));
    out += at - read;
    if (toCount > 0) std::memcpy(out, to, static_cast<size_t>(toCount));
    out += toCount;
    read = at + fromCount;
  }
  std::memcpy(out, source + read, static_cast<size_t>(length - read));
  out += length - read;
  *out = 0;
  grown->length = newLength;
  Release();
  block_ = grown;
  return replacements;
}

void SharedString::ToLower() {
  int32_t length = Length();
  int32_t first = 0;
  const char* text = CStr();
  while (first < length && !(text[first] >= 'A' && text[first] <= 'Z')) ++first;
  if (first == length) return;
  MakeUnique();
  char* out = Text();
  for (int32_t i = first; i < length; ++i) {
    if (out[i] >= 'A' && out[i] <= 'Z') out[i] = static_cast<char>(out[i] + ('a' - 'A'));
  }
  ClearHash();
}

void SharedString::Trim() {
  int32_t length = Length();
  const char* text = CStr();
  int32_t end = length;
  while (end > 0 && IsTrimSpace(static_cast<unsigned char>(text[end - 1]))) --end;
  int32_t start = 0;
  while (start < end && IsTrimSpace(static_cast<unsigned char>(text[start]))) ++start;
  if (start == 0 && end == length) return;
  Splice(end, length - end, nullptr, 0);
  Splice(0, start, nullptr, 0);
}

SharedString SharedString::TokenOfSet(const char* setBegin, int32_t setLength, int32_t& pos) const {
  if (pos < 0) return SharedString();
  int32_t length = Length();
  assert(pos <= length);
  if (pos > length) {
    pos = -1;
    return SharedString();
  }
  const char* text = CStr();
  int32_t stop = length;
  if (setLength == 1) {
    const void* hit = std::memchr(text + pos, setBegin[0], static_cast<size_t>(length - pos));
    if (hit != nullptr) stop = static_cast<int32_t>(static_cast<const char*>(hit) - text);
  } else if (setLength > 1) {
    bool isDelimiter[256] = {};
    for (int32_t i = 0; i < setLength; ++i) isDelimiter[static_cast<unsigned char>(setBegin[i])] = true;
    for (int32_t i = pos; i < length; ++i) {
      if (isDelimiter[static_cast<unsigned char>(text[i])]) {
        stop = i;
        break;
      }
    }
  }
  SharedString token(text + pos, text + stop);
  pos = stop < length ? stop + 1 : -1;
  return token;
}

SharedString SharedString::Token(const char* delimiters, int32_t& pos) const {
  return Token(delimiters, nullptr, pos);
}

SharedString SharedString::Token(const char* begin, const char* end, int32_t& pos) const {
  int64_t setLength = RangeLength(begin, end);
  return TokenOfSet(begin, setLength < 0 ? 0 : static_cast<int32_t>(setLength), pos);
}

SharedString SharedString::Token(const SharedString& delimiters, int32_t& pos) const {
  return TokenOfSet(delimiters.CStr(), delimiters.Length(), pos);
}

Array<SharedString> SharedString::SplitBySet(const char* setBegin, int32_t setLength, bool keepEmpty) const {
  Array<SharedString> tokens;
  if (IsEmpty()) return tokens;
  int32_t pos = 0;
  while (pos >= 0) {
    SharedString token = TokenOfSet(setBegin, setLength, pos);
    if (keepEmpty || !token.IsEmpty()) tokens.PushBack(static_cast<SharedString&&>(token));
  }
  return tokens;
}

Array<SharedString> SharedString::Split(const char* delimiters, bool keepEmpty) const {
  int64_t setLength = RangeLength(delimiters, nullptr);
  return SplitBySet(delimiters, setLength < 0 ? 0 : static_cast<int32_t>(setLength), keepEmpty);
}

Array<SharedString> SharedString::Split(const SharedString& delimiters, bool keepEmpty) const {
  return SplitBySet(delimiters.CStr(), delimiters.Length(), keepEmpty);
}

// ---------------------------------------------------------------------------------
// Free functions

// Hot: every hash-table key and every extension lookup; see bench/string_bench.cc.
uint32_t HashBytes(const void* data, size_t count) noexcept {
  constexpr uint32_t kSeed = 0x53A28FC9u;
  constexpr uint32_t kMultiplier1 = 0xDB91908Du;
  constexpr uint32_t kMultiplier2 = 0x6BE5BE6Fu;
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  uint32_t h = kSeed;
  size_t wordCount = count / 4;
  for (size_t i = 0; i < wordCount; ++i, bytes += 4) {
    uint32_t word = LoadLittle32(bytes);
    uint32_t k = RotateLeft(word * kMultiplier1, 15) * kMultiplier2 ^ kSeed;
    h = RotateLeft(h - k, 16) * 3;
  }
  uint32_t rest = static_cast<uint32_t>(count % 4);
  if (rest != 0) {
    uint32_t tail = 0;
    for (uint32_t i = rest; i > 0; --i) tail = tail << 8 | bytes[i - 1];
    uint32_t k = ((rest * kSeed) ^ tail) * kMultiplier1;
    k = RotateLeft(k, 15) * kMultiplier2 ^ kSeed;
    h = RotateLeft(h - k, 16) * 3;
  }
  h ^= h >> 15;
  h *= kMultiplier1;
  h ^= h >> 16;
  h *= kMultiplier2;
  h ^= h >> 17;
  return h;
}

int32_t Utf8Length(int32_t codePoint) noexcept {
  if (codePoint < 0x80) return 1;  // negative code points are written as "?"
  if (codePoint < 0x800) return 2;
  if (codePoint < 0x10000) return 3;
  if (codePoint < 0x200000) return 4;
  if (codePoint < 0x4000000) return 5;
  return 6;
}

int32_t EncodeUtf8(int32_t codePoint, char* out, char* outEnd) noexcept {
  int32_t count = Utf8Length(codePoint);
  if (out == nullptr || outEnd == nullptr || outEnd - out < count) return 0;
  if (codePoint < 0) {
    out[0] = '?';
    return 1;
  }
  if (count == 1) {
    out[0] = static_cast<char>(codePoint);
    return 1;
  }
  // Lead byte marks for 2..6 bytes: 110xxxxx, 1110xxxx, 11110xxx, 111110xx, 1111110x.
  static constexpr unsigned char kLead[7] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
  uint32_t value = static_cast<uint32_t>(codePoint);
  out[0] = static_cast<char>(kLead[count] | (value >> (6 * (count - 1))));
  for (int32_t i = 1; i < count; ++i) {
    out[i] = static_cast<char>(0x80 | ((value >> (6 * (count - 1 - i))) & 0x3F));
  }
  return count;
}

}  // namespace qm
