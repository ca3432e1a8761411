#include "core/hash_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace qm {
namespace {

SharedString Key(int i) {
  return SharedString::Format("key%d", i);
}

// Buckets double when the entries reach them: 1000 entries make 1024 buckets.
TEST(HashTable, KeepsInsertionOrderAndFindsEveryKeyAfterGrowth) {
  StringMap map;
  for (int i = 0; i < 1000; ++i) {
    const int32_t index = map.FindOrInsert(Key(i));
    ASSERT_EQ(index, i);
    EXPECT_TRUE(map.Value(index).IsEmpty());
    map.Value(index) = Key(i * 2);
  }
  EXPECT_EQ(map.BucketCount(), 1024);
  int i = 0;
  for (const StringMap::Entry& entry : map) ASSERT_EQ(entry.key, Key(i++));
  for (i = 0; i < 1000; ++i) {
    const SharedString* value = map.Find(Key(i));
    ASSERT_NE(value, nullptr) << i;
    EXPECT_EQ(*value, Key(i * 2));
    EXPECT_EQ(map.FindOrInsert(Key(i)), i);  // found, not inserted again
  }
  EXPECT_EQ(map.Find(Key(1000)), nullptr);
  EXPECT_EQ(map.Count(), 1000);
  map.Clear();
  EXPECT_EQ(map.Find(Key(1)), nullptr);
  EXPECT_EQ(map.FindOrInsert(Key(1)), 0);
}

TEST(HashTable, SetInsertReplacesAnEqualKeyWithTheNewHandle) {
  StringSet set;
  SharedString first("main.c");
  SharedString second("main.c");  // equal text, another block
  set.Insert(first);
  EXPECT_EQ(set.Insert(second), 0);
  ASSERT_EQ(set.Count(), 1);
  EXPECT_EQ(set.Key(0).CStr(), second.CStr());
  EXPECT_EQ(first.RefCount(), 1u);
}

TEST(HashTable, StringTablesAreSearchedByByteRange) {
  StringRefMap<int> refs;
  static const int kTargets[] = {10, 20};
  const char* names[] = {".c", ".cpp", ""};
  for (int i = 0; i < 3; ++i) {
    const int32_t index = refs.FindOrInsert(SharedString(names[i]));
    EXPECT_EQ(refs.Value(index), nullptr);  // a new reference is null
    if (i < 2) refs.Value(index) = &kTargets[i];
  }
  const char text[] = "main.cpp";
  const int* const* found = refs.Find(text + 4, text + 8);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(*found, &kTargets[1]);
  EXPECT_EQ(refs.IndexOf(text + 4, text + 6), 0);   // ".c" of ".cpp"
  EXPECT_EQ(refs.IndexOf(text + 4, text + 7), -1);  // ".cp"
  EXPECT_EQ(refs.IndexOf(SharedString()), 2);       // the null handle is the empty key
  EXPECT_EQ(StringSet().Find(text, text + 4), nullptr);
}

TEST(HashTable, DigestsSharingTheirBucketBytesAreBothKept) {
  DigestMap digests;
  DigestKey a;
  for (int i = 0; i < 16; ++i) a.bytes[i] = static_cast<uint8_t>(i * 17);
  DigestKey b = a;
  b.bytes[15] ^= 1;  // same first four bytes: same bucket at every size
  DigestKey c = a;
  c.bytes[0] ^= 1;
  digests.Value(digests.FindOrInsert(a)) = "a.c";
  digests.Value(digests.FindOrInsert(b)) = "b.c";
  digests.Value(digests.FindOrInsert(c)) = "c.c";
  EXPECT_EQ(digests.FindOrInsert(b), 1);
  ASSERT_NE(digests.Find(a), nullptr);
  EXPECT_EQ(*digests.Find(a), "a.c");
  EXPECT_EQ(*digests.Find(b), "b.c");
  DigestKey d = a;
  d.bytes[8] ^= 0x80;
  EXPECT_EQ(digests.Find(d), nullptr);
}

}  // namespace
}  // namespace qm
