// Array: the growable array of the runtime, optionally starting on an inline buffer.
// The array owns its elements; views into it last until the next call that may change
// its storage. Running out of memory ends the process (TryReserve reports it instead).
// Not synchronised: one thread at a time. Copies are deep, moves O(1).

// Layout: three fields, in this order: `data` (first element, or null without
// storage), `count` (signed 32-bit, elements in use) and `capacity` (signed 32-bit
// storage kind and size: 0 = no storage, N > 0 = N elements of storage owned by the
// array, -N = the array's own inline buffer of N elements is in use). With
// kInlineCount > 0 the inline buffer sits right behind the three fields; the array
// starts on it and, once more than kInlineCount elements are needed, moves to owned
// storage for good. Usable size is always |capacity|.
//
// Growth: when an element is added beyond |capacity| the capacity c steps as
// c < 2 ? c + 1 : c * 3 / 2 until the need is met (1, 2, 3, 4, 6, 9, 13, 19, ...).
// Reserve and Resize on an array without storage take exactly the count asked for.
//
// Ownership: the array owns its elements. Elements are constructed in place and
// destroyed when they leave (PopBack, Resize down, Clear, destruction). Trivially
// copyable types are moved and copied bytewise; other types through their move and copy
// constructors, never bytewise. Storage comes from AllocateOrDie (core/allocation.h):
// running out of memory, or past 2^31 - 1 elements, ends the process with a message
// rather than returning a broken array. TryReserve is the one call that reports
// memory it cannot get instead; buffers sized by input use it.
//
// Views: pointers and references into the array (Data(), operator[], begin()) stay
// valid until the next call that may change the storage: PushBack, Append, Reserve,
// Resize, Assign, Clear, ShrinkToFit, move or destruction. Adding an element of the
// array to the same array (PushBack(a[0]), Append(a.Data(), n)) is safe.
//
// Copy rules: copying deep-copies every element (an Array<SharedString> copy shares the
// string blocks, as SharedString copies do). Moving steals owned storage in O(1); an
// array on its inline buffer is moved element by element. A moved-from array is empty
// and back in its initial state. Not synchronised: one thread at a time.
#pragma once

#include <cassert>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <type_traits>
#include <utility>

#include "core/allocation.h"

namespace qm {

namespace array_internal {

template <typename T, int32_t kCount>
struct InlineBuffer {
  alignas(T) unsigned char bytes[sizeof(T) * static_cast<size_t>(kCount)];
};

template <typename T>
struct InlineBuffer<T, 0> {};

// Next capacity under the growth rule for at least `needed` elements.
inline int32_t GrownCapacity(int32_t current, int64_t needed) {
  int64_t capacity = current;
  while (capacity < needed) capacity = capacity < 2 ? capacity + 1 : capacity * 3 / 2;
  return capacity > INT32_MAX ? INT32_MAX : static_cast<int32_t>(capacity);
}

}  // namespace array_internal

template <typename T, int32_t kInlineCount = 0>
class Array {
  static_assert(kInlineCount >= 0, "the inline buffer cannot have a negative size");
  template <typename, int32_t>
  friend class Array;

 public:
  Array() noexcept : data_(InlineSlots()), count_(0), capacity_(-kInlineCount) {}
  ~Array() {
    DestroyRange(0, count_);
    FreeOwned();
  }

  // Deep copy.
  Array(const Array& other) : Array() { Assign(other); }
  Array& operator=(const Array& other) {
    Assign(other);
    return *this;
  }
  Array(Array&& other) noexcept : Array() { TakeFrom(other); }
  Array& operator=(Array&& other) noexcept {
    if (this != &other) {
      ReleaseAll();
      TakeFrom(other);
    }
    return *this;
  }

  int32_t Count() const { return count_; }
  bool IsEmpty() const { return count_ == 0; }
  // The raw signed capacity field: negative while the inline buffer is in use.
  int32_t Capacity() const { return capacity_; }
  T* Data() { return data_; }
  const T* Data() const { return data_; }

  // Requires: 0 <= index < Count().
  T& operator[](int32_t index) {
    assert(index >= 0 && index < count_);
    return data_[index];
  }
  const T& operator[](int32_t index) const {
    assert(index >= 0 && index < count_);
    return data_[index];
  }
  // Requires: the array is not empty.
  T& Back() {
    assert(count_ > 0);
    return data_[count_ - 1];
  }
  const T& Back() const {
    assert(count_ > 0);
    return data_[count_ - 1];
  }

  T* begin() { return data_; }
  T* end() { return data_ + count_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + count_; }

  // Copies (or moves) one element to the end, growing by the rule when full.
  void PushBack(const T& value) {
    if (count_ == Size()) {
      T copy(value);  // value may live in the storage about to be replaced
      Grow(int64_t{count_} + 1);
      new (data_ + count_) T(std::move(copy));
    } else {
      new (data_ + count_) T(value);
    }
    ++count_;
  }
  void PushBack(T&& value) {
    if (count_ == Size()) {
      T moved(std::move(value));
      Grow(int64_t{count_} + 1);
      new (data_ + count_) T(std::move(moved));
    } else {
      new (data_ + count_) T(std::move(value));
    }
    ++count_;
  }

  // Removes the last element. Requires: the array is not empty.
  void PopBack() {
    assert(count_ > 0);
    --count_;
    data_[count_].~T();
  }

  // Copies n elements from items to the end, growing by the rule. items may point into
  // this array. Requires: n >= 0; items is valid for n elements when n > 0.
  void Append(const T* items, int32_t n) {
    assert(n >= 0);
    if (n <= 0) return;
    const int64_t needed = int64_t{count_} + n;
    if (needed > Size()) {
      const uintptr_t address = reinterpret_cast<uintptr_t>(items);
      const uintptr_t first = reinterpret_cast<uintptr_t>(data_);
      const bool isOwnElement =
          data_ != nullptr && address >= first && address < first + sizeof(T) * static_cast<size_t>(count_);
      const size_t offset = isOwnElement ? (address - first) / sizeof(T) : 0;
      Grow(needed);
      if (isOwnElement) items = data_ + offset;
    }
    if constexpr (std::is_trivially_copyable_v<T>) {
      std::memcpy(static_cast<void*>(data_ + count_), items, sizeof(T) * static_cast<size_t>(n));
    } else {
      for (int32_t i = 0; i < n; ++i) new (data_ + count_ + i) T(items[i]);
    }
    count_ += n;
  }

  // Ensures |capacity| >= n. Takes exactly n when it must reallocate (also with
  // storage: a caller that reserves knows the size it needs). Requires: n >= 0.
  void Reserve(int32_t n) {
    assert(n >= 0);
    if (n > Size()) Reallocate(n);
  }

  // As Reserve, but reports memory that cannot be had instead of ending the process:
  // false leaves the array as it was. Owned storage of plain bytes grows through
  // Reallocate (core/allocation.h), so a large buffer grows without a second copy.
  // Requires: n >= 0.
  bool TryReserve(int32_t n) {
    assert(n >= 0);
    if (n <= Size()) return true;
    constexpr size_t kAlignment = alignof(T) < 8 ? 8 : alignof(T);
    const size_t bytes = sizeof(T) * static_cast<size_t>(n);
    if constexpr (std::is_trivially_copyable_v<T> && kAlignment == 8) {
      if (capacity_ > 0) {
        void* block = qm::Reallocate(data_, bytes);
        if (block == nullptr) return false;
        data_ = static_cast<T*>(block);
        capacity_ = n;
        return true;
      }
    }
    T* block = static_cast<T*>(AllocateAligned(bytes, kAlignment));
    if (block == nullptr) return false;
    Relocate(block, data_, count_);
    FreeOwned();
    data_ = block;
    capacity_ = n;
    return true;
  }

  // Sets the count to n: new elements are value-initialised (zero for plain types),
  // surplus ones destroyed. Storage grows exactly to n from no storage, else by the
  // rule. Shrinking keeps the storage. Requires: n >= 0.
  void Resize(int32_t n) {
    assert(n >= 0);
    if (n > Size()) Reallocate(capacity_ == 0 ? n : array_internal::GrownCapacity(Size(), n));
    if (n > count_) {
      if constexpr (std::is_trivial_v<T>) {
        std::memset(static_cast<void*>(data_ + count_), 0, sizeof(T) * static_cast<size_t>(n - count_));
      } else {
        for (int32_t i = count_; i < n; ++i) new (data_ + i) T();
      }
    } else {
      DestroyRange(n, count_);
    }
    count_ = n;
  }

  // Sets the count of a plain-bytes array without constructing or zeroing anything:
  // new elements hold whatever the storage held (a reader fills them next). Requires:
  // T is trivially copyable; 0 <= n <= |capacity|.
  void SetCountUninitialized(int32_t n) requires std::is_trivially_copyable_v<T> {
    assert(n >= 0 && n <= Size());
    count_ = n;
  }

  // Makes this array an element-wise copy of other (storage is kept when it is large
  // enough, else exactly other.Count() elements are taken).
  template <int32_t kOtherInline>
  void Assign(const Array<T, kOtherInline>& other) {
    if (static_cast<const void*>(&other) == static_cast<const void*>(this)) return;
    DestroyRange(0, count_);
    count_ = 0;
    Reserve(other.count_);
    Append(other.data_, other.count_);
  }

  // Destroys every element and frees owned storage; an array on its inline buffer
  // stays on it.
  void Clear() {
    DestroyRange(0, count_);
    count_ = 0;
    Reallocate(0);
  }

  // Storage of exactly Count() elements (none when empty); an array on its inline
  // buffer stays on it.
  void ShrinkToFit() { Reallocate(count_); }

 private:
  T* InlineSlots() {
    if constexpr (kInlineCount > 0) {
      return reinterpret_cast<T*>(&inline_);
    } else {
      return nullptr;
    }
  }

  int32_t Size() const { return capacity_ < 0 ? -capacity_ : capacity_; }

  void DestroyRange(int32_t from, int32_t to) {
    if constexpr (!std::is_trivially_destructible_v<T>) {
      for (int32_t i = from; i < to; ++i) data_[i].~T();
    }
  }

  void FreeOwned() {
    if (capacity_ > 0) Free(data_);
  }

  // Moves k elements into uninitialised slots and ends the lives of the sources.
  static void Relocate(T* target, T* source, int32_t k) {
    if (k <= 0) return;
    if constexpr (std::is_trivially_copyable_v<T>) {
      std::memcpy(static_cast<void*>(target), static_cast<const void*>(source),
                  sizeof(T) * static_cast<size_t>(k));
    } else {
      for (int32_t i = 0; i < k; ++i) {
        new (target + i) T(std::move(source[i]));
        source[i].~T();
      }
    }
  }

  void Grow(int64_t needed) {
    if (needed > INT32_MAX) OutOfMemory();
    Reallocate(array_internal::GrownCapacity(Size(), needed));
  }

  // The one place storage changes. An array on its inline buffer keeps it while it
  // fits; otherwise elements move to a new owned block of exactly n (or to none).
  void Reallocate(int32_t n) {
    const int32_t size = Size();
    if ((capacity_ < 0 && size >= n) || size == n) return;
    if (n == 0) {
      DestroyRange(0, count_);
      FreeOwned();
      data_ = nullptr;
      count_ = 0;
      capacity_ = 0;
      return;
    }
    constexpr size_t kAlignment = alignof(T) < 8 ? 8 : alignof(T);
    T* block = static_cast<T*>(AllocateOrDie(sizeof(T) * static_cast<size_t>(n), kAlignment));
    const int32_t kept = count_ < n ? count_ : n;
    Relocate(block, data_, kept);
    DestroyRange(kept, count_);
    FreeOwned();
    data_ = block;
    count_ = kept;
    capacity_ = n;
  }

  // Back to the initial state: no elements, no owned storage.
  void ReleaseAll() {
    DestroyRange(0, count_);
    FreeOwned();
    data_ = InlineSlots();
    count_ = 0;
    capacity_ = -kInlineCount;
  }

  // Requires: this array is in its initial state.
  void TakeFrom(Array& other) {
    if (other.capacity_ > 0) {
      data_ = other.data_;
      count_ = other.count_;
      capacity_ = other.capacity_;
      other.data_ = other.InlineSlots();
      other.count_ = 0;
      other.capacity_ = -kInlineCount;
      return;
    }
    // On its inline buffer (same size as ours) or without storage.
    Relocate(data_, other.data_, other.count_);
    count_ = other.count_;
    other.count_ = 0;
  }

  T* data_;
  int32_t count_;
  int32_t capacity_;
  [[no_unique_address]] array_internal::InlineBuffer<T, kInlineCount> inline_;
};

}  // namespace qm
