// SharedString: the one string type. A handle to a reference-counted, copy-on-write
// byte block with a cached hash; the null handle is the empty string. Copies share the
// block (one atomic increment); any change first makes it private. CStr() is always
// zero-terminated and valid until this handle changes or is released. Handles sharing
// a block may live on different threads; one handle is used by one thread at a time.

// Bytes are raw (UTF-8 by convention, never checked). A block is wiped before it is
// freed.
//
// Block layout (one heap allocation of capacity + 20 bytes):
//
//   offset  0  capacity  uint32  bytes of text the block can hold, terminator not counted
//   offset  4  length    int32   bytes in use, 0..capacity; text[length] is always 0
//   offset  8  refs      atomic  handles pointing at the block
//   offset 12  hash      atomic  cached HashBytes of the text, 0 = not computed yet
//   offset 16  text      capacity bytes, the terminating zero, three spare bytes
//
// Costs: copying, assigning, moving and passing by value never allocate. Creating or
// changing text allocates at most one block; appends grow the capacity to
// max(capacity * 3 / 2, new length), so n appends copy O(n) bytes in total. A block
// built from scratch (construction, copy-on-write) is exact-size.
//
// Failure: no operation reports an error. A null pointer or an empty needle gives the
// neutral result (-2 from Compare, -1 from searches, false from prefix and suffix
// tests, no change from changes). A change that would make a string longer than
// kMaxLength (2^31 - 1) bytes is refused and leaves the string as it was. A failed
// allocation ends the process with "Quillmet: out of memory" on standard error: there
// is no sane way to go on without memory and writing through a null block would be
// worse.
//
// Choices of this implementation:
// - A block emptied by Erase, EraseLeft, Trim or ReplaceAll stays allocated (length
//   0) when this handle owned it alone, so later appends can reuse it; every
//   operation treats it like the null handle. Emptying a shared block just drops
//   this handle's reference.
// - A change that finds nothing to change (ToLower without capital letters, Trim
//   without surrounding whitespace, Erase past the end) leaves the handle untouched,
//   so the block stays shared.
//
// Threads: reference counts are atomic, so handles sharing a block may be copied and
// released on different threads. One handle object must not be used by two threads
// at once while one of them changes it.
//
// Copy rules: intentionally copyable (shares the block) and movable (steals the
// handle, leaving the source empty).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "core/array.h"

namespace qm {

struct StringBlock;

class SharedString {
 public:
  static constexpr int32_t kMaxLength = 0x7FFFFFFF;
  // Size of the one stack buffer used by Format; output is cut at
  // kFormatBufferSize - 1 bytes.
  static constexpr int32_t kFormatBufferSize = 16000;

  SharedString() noexcept : block_(nullptr) {}
  // Null or "" gives the empty string; else an exact-size block.
  SharedString(const char* text);  // NOLINT: implicit on purpose, like a literal.
  // A copy of the bytes [begin, end). A null end means "up to the first zero byte";
  // a null begin or an empty range gives the empty string.
  SharedString(const char* begin, const char* end);
  SharedString(const SharedString& other) noexcept;
  SharedString(SharedString&& other) noexcept : block_(other.block_) { other.block_ = nullptr; }
  ~SharedString();

  SharedString& operator=(const SharedString& other) noexcept {
    Assign(other);
    return *this;
  }
  SharedString& operator=(SharedString&& other) noexcept;
  // As construction from text, releasing the old block first.
  SharedString& operator=(const char* text);

  // Shares other's block; nothing happens when both already share one block.
  void Assign(const SharedString& other) noexcept;
  // Releases the block: the string becomes the null handle.
  void Clear() noexcept;

  // printf-style formatting through one 16000-byte stack buffer; output longer than
  // 15999 bytes is cut there. An empty result gives the empty string.
  static SharedString Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
  static SharedString FormatList(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

  // Accessors.
  int32_t Length() const noexcept;
  bool IsEmpty() const noexcept { return Length() == 0; }
  // The text, zero-terminated; a static empty text when there is no block. Never null.
  const char* CStr() const noexcept;
  // Requires: 0 <= index < Length().
  char operator[](int32_t index) const noexcept;
  // HashBytes of the text, computed once per block and cached.
  uint32_t Hash() const noexcept;
  // For tests and diagnostics: handles sharing this block (0 for the null handle),
  // and bytes the block can hold.
  uint32_t RefCount() const noexcept;
  int32_t Capacity() const noexcept;

  // Byte-wise comparison, bytes unsigned: -1, 0 or 1 for less, equal, greater;
  // -2 when the text pointer is null. A null end means "up to the zero byte".
  int Compare(const char* text) const noexcept;
  int Compare(const char* begin, const char* end) const noexcept;
  int Compare(const SharedString& other) const noexcept;

  // Equality with another string: lengths first, then bytes; one block is equal.
  // (!= is the rewritten form of ==.)
  bool operator==(const SharedString& other) const noexcept;
  bool operator<(const SharedString& other) const noexcept { return Compare(other) < 0; }
  // The sign of Compare(text): against a null pointer <, <= and != hold, the others
  // do not.
  bool operator==(const char* text) const noexcept { return Compare(text) == 0; }
  bool operator<(const char* text) const noexcept { return Compare(text) < 0; }
  bool operator<=(const char* text) const noexcept { return Compare(text) <= 0; }
  bool operator>(const char* text) const noexcept { return Compare(text) > 0; }
  bool operator>=(const char* text) const noexcept { return Compare(text) >= 0; }

  // The first index >= start where the whole needle occurs; -1 when this string or
  // the needle is empty, or start >= Length(). A null end means "up to the zero byte".
  // Requires: start >= 0 (a negative start is treated as 0).
  int32_t Find(const char* needle, int32_t start = 0) const noexcept;
  int32_t Find(const char* begin, const char* end, int32_t start) const noexcept;
  int32_t Find(const SharedString& needle, int32_t start = 0) const noexcept;

  // False when this string or the prefix/suffix is empty, or the prefix/suffix is
  // longer; else a byte-equal test.
  bool StartsWith(const char* prefix) const noexcept;
  bool StartsWith(const char* begin, const char* end) const noexcept;
  bool EndsWith(const char* suffix) const noexcept;
  bool EndsWith(const char* begin, const char* end) const noexcept;
  bool EndsWith(const SharedString& suffix) const noexcept;

  // Appends bytes; appending nothing changes nothing. On an empty string, appending
  // another string shares its block. The bytes may point into this string.
  void Append(const char* bytes, int32_t count);
  void Append(const char* text);
  void Append(const SharedString& other);

  // Inserts [begin, end) before index; an index at or past the end appends, a
  // negative index counts as 0. A null end means "up to the zero byte".
  void Insert(int32_t index, const char* begin, const char* end);
  void Insert(int32_t index, const char* text) { Insert(index, text, nullptr); }
  // Removes count bytes from index (a negative count erases to the end, a negative
  // index counts as 0, nothing happens when index >= Length()). Returns the new length.
  int32_t Erase(int32_t index, int32_t count);
  // Removes the first count bytes (all of them when count >= Length() or count < 0).
  // Returns the new length.
  int32_t EraseLeft(int32_t count);
  // Replaces every occurrence of [fromBegin, fromEnd) by [toBegin, toEnd), left to
  // right, never searching inside a replacement. Returns the number of replacements;
  // an empty from replaces nothing. Null ends mean "up to the zero byte"; a null
  // toBegin is the empty replacement.
  int32_t ReplaceAll(const char* fromBegin, const char* fromEnd, const char* toBegin, const char* toEnd);
  int32_t ReplaceAll(const char* from, const char* to) { return ReplaceAll(from, nullptr, to, nullptr); }
  // ASCII A-Z become a-z; other bytes unchanged.
  void ToLower();
  // Removes the bytes 8, 9, 10, 11, 13 and 32 from the end, then from the start.
  // Form feed (12) is not whitespace.
  void Trim();

  // The next token: from pos up to (not including) the first byte at or after pos
  // that is in the delimiter set; pos moves just past that delimiter, or becomes -1
  // when none follows. A negative pos gives the empty string and stays. Adjacent
  // delimiters give empty tokens; an empty set returns the whole rest.
  // Requires: pos <= Length() (a larger pos is treated as past the end: empty, -1).
  SharedString Token(const char* delimiters, int32_t& pos) const;
  SharedString Token(const char* begin, const char* end, int32_t& pos) const;
  SharedString Token(const SharedString& delimiters, int32_t& pos) const;
  // Every Token from position 0 on, in order; empty tokens only when keepEmpty.
  // An empty string gives an empty array.
  Array<SharedString> Split(const char* delimiters, bool keepEmpty) const;
  Array<SharedString> Split(const SharedString& delimiters, bool keepEmpty) const;

 private:
  char* Text() const noexcept;
  void Release() noexcept;
  void MakeUnique();
  void ClearHash() noexcept;
  bool PointsIntoBlock(const char* bytes) const noexcept;
  // Replaces removeCount bytes at index by insertCount bytes from source (which may
  // point into this string), growing by the rule above.
  void Splice(int32_t index, int32_t removeCount, const char* source, int32_t insertCount);
  SharedString TokenOfSet(const char* setBegin, int32_t setLength, int32_t& pos) const;
  Array<SharedString> SplitBySet(const char* setBegin, int32_t setLength, bool keepEmpty) const;

  StringBlock* block_;
};

// Hash of a byte range (any alignment). HashBytes(nullptr, 0) == 0x424C5FBF.
uint32_t HashBytes(const void* data, size_t count) noexcept;

// Writes the UTF-8 form of codePoint to [out, outEnd): negative gives "?", values up
// to 0x7FFFFFFF take 1 to 6 bytes; no surrogate or range check. Returns the bytes
// written, 0 when the form does not fit.
int32_t EncodeUtf8(int32_t codePoint, char* out, char* outEnd) noexcept;

// Bytes EncodeUtf8 writes for codePoint (1 to 6).
int32_t Utf8Length(int32_t codePoint) noexcept;

}  // namespace qm
