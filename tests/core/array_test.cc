#include "core/array.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "core/shared_string.h"

namespace qm {
namespace {

// Counts live instances so tests can see every element constructed and destroyed.
struct Counted {
  static inline int live = 0;
  int value;
  explicit Counted(int v = -1) : value(v) { ++live; }
  Counted(const Counted& other) : value(other.value) { ++live; }
  Counted& operator=(const Counted&) = default;
  ~Counted() { --live; }
};

template <typename A>
bool IsInline(const A& array) {
  auto* begin = reinterpret_cast<const unsigned char*>(&array);
  auto* at = reinterpret_cast<const unsigned char*>(array.Data());
  return at >= begin && at < begin + sizeof array;
}

TEST(Array, GrowsByHalfAndZeroesNewElements) {
  Array<int32_t> array;
  for (int32_t i = 0; i < 14; ++i) array.PushBack(i);
  EXPECT_EQ(array.Capacity(), 19);  // 1, 2, 3, 4, 6, 9, 13, 19
  for (int32_t i = 0; i < 14; ++i) EXPECT_EQ(array[i], i);
  Array<int64_t> resized;
  resized.Resize(4);
  resized.Resize(7);
  for (int64_t value : resized) EXPECT_EQ(value, 0);
}

TEST(Array, InlineBufferHoldsUpToItsSizeThenMovesOutForGood) {
  Array<int32_t, 256> array;
  for (int32_t i = 0; i < 256; ++i) array.PushBack(i);
  EXPECT_TRUE(IsInline(array));
  EXPECT_EQ(array.Capacity(), -256);
  array.PushBack(256);
  EXPECT_EQ(array.Capacity(), 384);
  EXPECT_FALSE(IsInline(array));
  for (int32_t i = 0; i <= 256; ++i) ASSERT_EQ(array[i], i);
  array.Clear();
  EXPECT_EQ(array.Capacity(), 0);

  Array<int32_t, 8> small;
  small.PushBack(1);
  small.Clear();  // stays on its buffer
  EXPECT_EQ(small.Capacity(), -8);
}

TEST(Array, ElementsLiveExactlyWhileInTheArray) {
  {
    Array<Counted> array;
    for (int i = 0; i < 20; ++i) array.PushBack(Counted(i));  // several relocations
    EXPECT_EQ(Counted::live, 20);
    for (int i = 0; i < 20; ++i) ASSERT_EQ(array[i].value, i);
    array.Resize(5);
    EXPECT_EQ(Counted::live, 5);
    array.Resize(8);
    EXPECT_EQ(array[7].value, -1);
    array.PopBack();
    array.ShrinkToFit();
    EXPECT_EQ(Counted::live, 7);
    Array<Counted> copy(array);
    copy.Assign(copy);  // self-assignment keeps everything
    EXPECT_EQ(Counted::live, 14);
    array.Clear();
    EXPECT_EQ(Counted::live, 7);
  }
  EXPECT_EQ(Counted::live, 0);
}

TEST(Array, InlineArraysMoveElementByElement) {
  {
    Array<Counted, 4> source;
    for (int i = 0; i < 3; ++i) source.PushBack(Counted(i));
    Array<Counted, 4> target(std::move(source));
    EXPECT_TRUE(IsInline(target));
    EXPECT_EQ(source.Count(), 0);
    EXPECT_EQ(Counted::live, 3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(target[i].value, i);

    for (int i = 3; i < 6; ++i) target.PushBack(Counted(i));  // now owned
    const Counted* owned = target.Data();
    Array<Counted, 4> other;
    other.PushBack(Counted(99));
    other = std::move(target);  // steals the owned block, releases 99
    EXPECT_EQ(other.Data(), owned);
    EXPECT_EQ(target.Capacity(), -4);
    EXPECT_EQ(Counted::live, 6);
  }
  EXPECT_EQ(Counted::live, 0);
}

// Adding an element of the array to itself while that forces a reallocation must copy
// it before the old storage is freed.
TEST(Array, AppendingOwnElementsSurvivesGrowth) {
  Array<SharedString> strings;
  for (const char* text : {"first", "second", "third"}) strings.PushBack(SharedString(text));
  ASSERT_EQ(strings.Capacity(), 3);
  strings.PushBack(strings[0]);
  strings.Append(strings.Data(), strings.Count());
  ASSERT_EQ(strings.Count(), 8);
  const char* expected[] = {"first", "second", "third", "first"};
  for (int32_t i = 0; i < 8; ++i) EXPECT_STREQ(strings[i].CStr(), expected[i % 4]) << i;
  EXPECT_EQ(strings[0].RefCount(), 4u);
}

}  // namespace
}  // namespace qm
