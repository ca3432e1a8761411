// HashTable: the chained hash set or map of the runtime (StringSet, StringMap,
// StringRefMap, DigestMap at the end of this header). The table owns its entries,
// which keep insertion order and leave only all at once (Clear). No operation fails;
// out of memory ends the process. Not synchronised: one thread at a time.

// Layout: two arrays: `entries`, every key (and value) ever inserted, in insertion
// order, and `buckets`, per bucket the index of the first entry of its chain or -1,
// with a count of 0 or a power of two. Each entry is the key, then the value for
// maps, then `next`, the index of the next entry of the same chain (-1 ends it).
//
// Insertion: the first entry creates one bucket. Later ones go to the head of their
// chain (bucket = bucket key AND (bucket count - 1)); when the entry count has reached
// the bucket count (the string set: passed it) the bucket count doubles and every
// entry is rechained in index order, so within a bucket later entries come first.
// The load factor so stays at most 1 (string set: just after an insertion, at most
// 1 + 1/n), and rehashing never hashes a key again: strings cache their hash.
//
// Instantiations (at the end of this header):
//   StringSet           SharedString              Insert overwrites an equal key with
//                                                 the new handle
//   StringMap           SharedString -> SharedString      FindOrInsert: new value empty
//   StringRefMap<T>     SharedString -> const T*          FindOrInsert: new value null
//   DigestMap           DigestKey -> SharedString         FindOrInsert: new value empty
// Strings are bucketed by SharedString::Hash and equal by SharedString ==; string
// tables can also be searched with a byte range, hashed with HashBytes (equal to the
// Hash of a string of the same bytes). Digests are bucketed by their first four bytes
// as a little-endian number, not hashed again, and equal when all 16 bytes are.
//
// Views: pointers returned by Find and references from Key/Value/Entries stay valid
// until the next insertion, Clear, move or destruction of the table.
//
// Copy rules: copying deep-copies both arrays (string keys and values share their
// blocks); moving steals them. Not synchronised: one thread at a time. No operation
// fails; out of memory ends the process (see core/array.h).
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "core/array.h"
#include "core/shared_string.h"

namespace qm {

// A 16-byte MD5 digest used as a key.
struct DigestKey {
  uint8_t bytes[16];

  friend bool operator==(const DigestKey& a, const DigestKey& b) {
    return std::memcmp(a.bytes, b.bytes, sizeof(a.bytes)) == 0;
  }
};

template <typename KeyType, typename ValueType>
struct HashEntry {
  KeyType key;
  ValueType value;
  int32_t next;
};

template <typename KeyType>
struct HashEntry<KeyType, void> {
  KeyType key;
  int32_t next;
};

struct StringKeyTraits {
  static constexpr bool kIsString = true;
  static uint32_t BucketKey(const SharedString& key) { return key.Hash(); }
  static bool Equal(const SharedString& a, const SharedString& b) { return a == b; }
};

struct DigestKeyTraits {
  static constexpr bool kIsString = false;
  static uint32_t BucketKey(const DigestKey& key) {
    return uint32_t{key.bytes[0]} | uint32_t{key.bytes[1]} << 8 | uint32_t{key.bytes[2]} << 16 |
           uint32_t{key.bytes[3]} << 24;
  }
  static bool Equal(const DigestKey& a, const DigestKey& b) { return a == b; }
};

// KeyTraits gives BucketKey(key) and Equal(a, b). ValueType void makes a set. With
// kGrowWhenPassed the buckets double once the entry count passes the bucket count,
// else once it reaches it.
template <typename KeyType, typename ValueType, typename KeyTraits, bool kGrowWhenPassed>
class HashTable {
 public:
  using Entry = HashEntry<KeyType, ValueType>;
  static constexpr bool kIsSet = std::is_void_v<ValueType>;

  int32_t Count() const { return entries_.Count(); }
  bool IsEmpty() const { return entries_.Count() == 0; }
  // 0 or a power of two.
  int32_t BucketCount() const { return buckets_.Count(); }

  // Entry access by index, in insertion order. Requires: 0 <= index < Count().
  const KeyType& Key(int32_t index) const { return entries_[index].key; }
  template <typename V = ValueType>
  requires(!std::is_void_v<V>) V& Value(int32_t index) { return entries_[index].value; }
  template <typename V = ValueType>
  requires(!std::is_void_v<V>) const V& Value(int32_t index) const { return entries_[index].value; }
  const Array<Entry>& Entries() const { return entries_; }
  const Entry* begin() const { return entries_.begin(); }
  const Entry* end() const { return entries_.end(); }

  // Index of the entry whose key equals key, or -1 (also for a table without buckets).
  int32_t IndexOf(const KeyType& key) const {
    return Walk(KeyTraits::BucketKey(key),
                [&key](const KeyType& stored) { return KeyTraits::Equal(stored, key); });
  }
  // The same for a string table searched with the bytes [begin, end).
  int32_t IndexOf(const char* begin, const char* end) const requires KeyTraits::kIsString {
    const size_t length = static_cast<size_t>(end - begin);
    return Walk(HashBytes(begin, length), [begin, length](const SharedString& stored) {
      return static_cast<size_t>(stored.Length()) == length &&
             (length == 0 || std::memcmp(stored.CStr(), begin, length) == 0);
    });
  }

  // Maps: the value of key, or nullptr when absent. Sets: the stored key, or nullptr.
  auto Find(const KeyType& key) { return At(IndexOf(key)); }
  auto Find(const KeyType& key) const { return At(IndexOf(key)); }
  auto Find(const char* begin, const char* end) requires KeyTraits::kIsString {
    return At(IndexOf(begin, end));
  }
  auto Find(const char* begin, const char* end) const requires KeyTraits::kIsString {
    return At(IndexOf(begin, end));
  }

  // Sets: inserts key, or overwrites an equal key already present with this handle.
  // Returns the entry index.
  int32_t Insert(const KeyType& key) requires kIsSet {
    const uint32_t bucketKey = KeyTraits::BucketKey(key);
    const int32_t index =
        Walk(bucketKey, [&key](const KeyType& stored) { return KeyTraits::Equal(stored, key); });
    if (index >= 0) {
      entries_[index].key = key;
      return index;
    }
    return Append(Entry{key, -1}, bucketKey);
  }

  // Maps: the index of the entry of key, inserted with an empty (value-initialised)
  // value when absent.
  int32_t FindOrInsert(const KeyType& key) requires(!kIsSet) {
    const uint32_t bucketKey = KeyTraits::BucketKey(key);
    const int32_t index =
        Walk(bucketKey, [&key](const KeyType& stored) { return KeyTraits::Equal(stored, key); });
    if (index >= 0) return index;
    return Append(Entry{key, ValueType{}, -1}, bucketKey);
  }

  // Maps: FindOrInsert, then sets the value. Returns the entry index.
  template <typename V = ValueType>
  requires(!std::is_void_v<V>) int32_t Insert(const KeyType& key, const V& value) {
    const int32_t index = FindOrInsert(key);
    entries_[index].value = value;
    return index;
  }

  // Releases every entry and both arrays' storage.
  void Clear() {
    entries_.Clear();
    buckets_.Clear();
  }

 private:
  auto At(int32_t index) {
    if constexpr (kIsSet) {
      return index < 0 ? static_cast<const KeyType*>(nullptr) : &entries_[index].key;
    } else {
      return index < 0 ? static_cast<ValueType*>(nullptr) : &entries_[index].value;
    }
  }
  auto At(int32_t index) const {
    if constexpr (kIsSet) {
      return index < 0 ? static_cast<const KeyType*>(nullptr) : &entries_[index].key;
    } else {
      return index < 0 ? static_cast<const ValueType*>(nullptr) : &entries_[index].value;
    }
  }

  template <typename Matches>
  int32_t Walk(uint32_t bucketKey, Matches matches) const {
    const int32_t bucketCount = buckets_.Count();
    if (bucketCount == 0) return -1;
    const Entry* entries = entries_.Data();
    for (int32_t i = buckets_.Data()[bucketKey & static_cast<uint32_t>(bucketCount - 1)]; i >= 0;
         i = entries[i].next) {
      if (matches(entries[i].key)) return i;
    }
    return -1;
  }

  int32_t Append(Entry&& entry, uint32_t bucketKey) {
    const int32_t index = entries_.Count();
    const int32_t bucketCount = buckets_.Count();
    if (bucketCount == 0) {
      entries_.PushBack(std::move(entry));
      buckets_.PushBack(index);
      return index;
    }
    int32_t& head = buckets_[static_cast<int32_t>(bucketKey & static_cast<uint32_t>(bucketCount - 1))];
    entry.next = head;
    head = index;
    entries_.PushBack(std::move(entry));
    const int32_t count = entries_.Count();
    const bool isFull = kGrowWhenPassed ? count > bucketCount : count >= bucketCount;
    // 2^30 buckets is the largest power of two a signed 32-bit count holds.
    if (isFull && bucketCount < (int32_t{1} << 30)) Rehash(bucketCount * 2);
    return index;
  }

  void Rehash(int32_t bucketCount) {
    buckets_.Reserve(bucketCount);
    buckets_.Resize(bucketCount);
    int32_t* heads = buckets_.Data();
    for (int32_t b = 0; b < bucketCount; ++b) heads[b] = -1;
    const uint32_t mask = static_cast<uint32_t>(bucketCount - 1);
    Entry* entries = entries_.Data();
    const int32_t count = entries_.Count();
    for (int32_t i = 0; i < count; ++i) {
      int32_t& head = heads[KeyTraits::BucketKey(entries[i].key) & mask];
      entries[i].next = head;
      head = i;
    }
  }

  Array<Entry> entries_;
  Array<int32_t> buckets_;
};

using StringSet = HashTable<SharedString, void, StringKeyTraits, true>;
using StringMap = HashTable<SharedString, SharedString, StringKeyTraits, false>;
template <typename T>
using StringRefMap = HashTable<SharedString, const T*, StringKeyTraits, false>;
using DigestMap = HashTable<DigestKey, SharedString, DigestKeyTraits, false>;

}  // namespace qm
