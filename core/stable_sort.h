// StableSort: an in-place stable merge sort over items[0, count) with a caller-given
// comesBefore(a, b) test (a strict weak order: true when a must come before b).
// Elements that compare equal keep their input order. No heap allocation, nothing
// fails; it touches only the caller's items, so any thread may sort its own array.

// Method: ranges of up to 16 elements are sorted by insertion; longer ones are split
// at count / 2, both halves sorted recursively, then merged. Runs already in order are
// detected with one comparison. A merge goes through one 14000-byte buffer on the
// stack of the outermost call (14000 / sizeof(T) elements, 3500 for 32-bit indexes):
// the shorter run moves there when it fits (the left run when it is not longer than
// the right, merged front to back; else the right run, merged back to front). When
// neither run fits, the longer run is cut at its middle, the matching cut in the other
// run is found by binary search, the two middle blocks are exchanged by rotation and
// the two resulting pairs of runs are merged the same way.
//
// Costs: O(n log n) comparisons when the buffer suffices, O(n log^2 n) moves in the
// buffer-free case; no heap allocation, 14000 bytes of stack plus O(log n) frames.
// Elements are moved with their move constructor and move assignment, never copied
// bytewise, so records holding reference-counted strings sort safely; T must be
// move-constructible and move-assignable. Nothing fails.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

namespace qm {

namespace stable_sort_internal {

inline constexpr size_t kBufferBytes = 14000;
inline constexpr int32_t kInsertionSortMax = 16;

template <typename T, typename ComesBefore>
class MergeSorter {
 public:
  MergeSorter(T* buffer, int32_t bufferCount, ComesBefore& comesBefore)
      : buffer_(buffer), bufferCount_(bufferCount), comesBefore_(comesBefore) {}

  void Sort(T* items, int32_t count) {
    if (count < 2) return;
    if (count <= kInsertionSortMax) {
      InsertionSort(items, count);
      return;
    }
    const int32_t half = count / 2;
    Sort(items, half);
    Sort(items + half, count - half);
    Merge(items, half, count - half);
  }

 private:
  void InsertionSort(T* items, int32_t count) {
    for (int32_t i = 1; i < count; ++i) {
      if (!comesBefore_(items[i], items[i - 1])) continue;
      T moving(std::move(items[i]));
      int32_t j = i;
      do {
        items[j] = std::move(items[j - 1]);
        --j;
      } while (j > 0 && comesBefore_(moving, items[j - 1]));
      items[j] = std::move(moving);
    }
  }

  // Merges the sorted runs items[0, leftCount) and items[leftCount, leftCount +
  // rightCount) into one.
  void Merge(T* items, int32_t leftCount, int32_t rightCount) {
    for (;;) {
      if (leftCount == 0 || rightCount == 0) return;
      T* right = items + leftCount;
      if (!comesBefore_(right[0], right[-1])) return;
      if (leftCount <= bufferCount_ && leftCount <= rightCount) {
        MergeLeftBuffered(items, leftCount, rightCount);
        return;
      }
      if (rightCount <= bufferCount_) {
        MergeRightBuffered(items, leftCount, rightCount);
        return;
      }
      int32_t leftCut;
      int32_t rightCut;
      if (leftCount >= rightCount) {
        leftCut = leftCount / 2;
        // First right element that does not come before the cut element.
        rightCut = static_cast<int32_t>(
            std::lower_bound(right, right + rightCount, items[leftCut], comesBefore_) - right);
      } else {
        rightCut = rightCount / 2;
        // First left element that the cut element comes before.
        leftCut = static_cast<int32_t>(
            std::upper_bound(items, items + leftCount, right[rightCut], comesBefore_) - items);
      }
      std::rotate(items + leftCut, right, right + rightCut);
      // items: [left < cut | right < cut | left >= cut | right >= cut]
      Merge(items, leftCut, rightCut);
      items += leftCut + rightCut;
      leftCount -= leftCut;
      rightCount -= rightCut;
    }
  }

  void MergeLeftBuffered(T* items, int32_t leftCount, int32_t rightCount) {
    for (int32_t i = 0; i < leftCount; ++i) new (buffer_ + i) T(std::move(items[i]));
    T* out = items;
    T* right = items + leftCount;
    T* const rightEnd = right + rightCount;
    int32_t taken = 0;
    // out never passes right: out = items + taken + (right - (items + leftCount)).
    while (taken < leftCount && right < rightEnd) {
      if (comesBefore_(*right, buffer_[taken])) {
        *out++ = std::move(*right++);
      } else {
        *out++ = std::move(buffer_[taken++]);
      }
    }
    while (taken < leftCount) *out++ = std::move(buffer_[taken++]);
    DestroyBuffer(leftCount);
  }

  void MergeRightBuffered(T* items, int32_t leftCount, int32_t rightCount) {
    T* right = items + leftCount;
    for (int32_t i = 0; i < rightCount; ++i) new (buffer_ + i) T(std::move(right[i]));
    T* out = right + rightCount;
    int32_t left = leftCount;
    int32_t kept = rightCount;
    // Filling from the back: on a tie the right element goes last.
    while (kept > 0 && left > 0) {
      if (comesBefore_(buffer_[kept - 1], items[left - 1])) {
        *--out = std::move(items[--left]);
      } else {
        *--out = std::move(buffer_[--kept]);
      }
    }
    while (kept > 0) *--out = std::move(buffer_[--kept]);
    DestroyBuffer(rightCount);
  }

  void DestroyBuffer(int32_t count) {
    for (int32_t i = 0; i < count; ++i) buffer_[i].~T();
  }

  T* buffer_;
  int32_t bufferCount_;
  ComesBefore& comesBefore_;
};

}  // namespace stable_sort_internal

// Sorts items[0, count) stably by comesBefore. Requires: count >= 0; items valid for
// count elements; comesBefore a strict weak order that does not change the elements.
template <typename T, typename ComesBefore>
void StableSort(T* items, int32_t count, ComesBefore comesBefore) {
  using stable_sort_internal::kBufferBytes;
  if (count < 2) return;
  alignas(T) unsigned char storage[kBufferBytes];
  stable_sort_internal::MergeSorter<T, ComesBefore> sorter(
      reinterpret_cast<T*>(storage), static_cast<int32_t>(kBufferBytes / sizeof(T)), comesBefore);
  sorter.Sort(items, count);
}

}  // namespace qm
