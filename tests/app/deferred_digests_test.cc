#include "app/deferred_digests.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/file_intake.h"
#include "app/file_types.h"
#include "app/md5.h"
#include "app/settings.h"
#include "core/memory_stream.h"
#include "count/classify_text.h"
#include "tests/support/run_settings.h"
#include "tests/support/temp_tree.h"

namespace qm {
namespace {

SharedString Text(const std::string& text) {
  return SharedString(text.data(), text.data() + text.size());
}

Md5Digest DigestOf(const std::string& bytes) {
  return Md5Of(bytes.data(), bytes.size());
}

// A deferrable size, and content of that size made from one fill text.
constexpr int64_t kBig = kDeferredMinBytes + 10;
std::string Content(const std::string& fill, int64_t size = kBig) {
  std::string bytes;
  while (static_cast<int64_t>(bytes.size()) < size) bytes += fill;
  bytes.resize(static_cast<size_t>(size));
  return bytes;
}

uint64_t ClassOf(const std::string& bytes) {
  return ContentClassOf(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int64_t>(bytes.size()));
}

TEST(DeferredDigests, ClassesFollowSizeAndSampledBytes) {
  const std::string base = Content("abcdefg\n");
  std::string sampled = base;  // the first and last bytes are always sampled
  sampled.back() = 'X';
  std::string unsampled = base;  // the sixteen pieces leave gaps between them
  unsampled[base.size() / 30] = 'X';
  EXPECT_NE(ClassOf(base), ClassOf(sampled));
  EXPECT_NE(ClassOf(base), ClassOf(base + "\n"));
  EXPECT_EQ(ClassOf(base), ClassOf(unsampled));
  EXPECT_NE(ClassOf("ab"), ClassOf("ba"));  // short texts are taken whole
}

TEST(DeferredDigests, SettleEntersTheWaitingFileOnceWithItsDisplayPath) {
  test::TempTree tree;
  const std::string bytes = Content("int x;\n");
  const uint64_t contentClass = ClassOf(bytes);
  ASSERT_TRUE(tree.WriteFile("a.c", bytes));
  DeferredDigests deferred;
  DigestMap digests;
  EXPECT_FALSE(MustHashNow(deferred, kBig, contentClass, true));
  DeferDigest(deferred, kBig, contentClass, Text(tree.Path("a.c")), "shown/a.c");
  EXPECT_TRUE(MustHashNow(deferred, kBig, contentClass, true));
  EXPECT_FALSE(MustHashNow(deferred, kBig + 1, contentClass, true));  // the size is part of the class
  SettleDigests(deferred, digests, kBig, contentClass + 1);           // another class: nothing waits there
  EXPECT_TRUE(digests.IsEmpty());
  for (int round = 0; round < 2; ++round) SettleDigests(deferred, digests, kBig, contentClass);
  ASSERT_NE(digests.Find(DigestOf(bytes)), nullptr);
  EXPECT_EQ(*digests.Find(DigestOf(bytes)), "shown/a.c");
  EXPECT_EQ(digests.Count(), 1);
}

TEST(DeferredDigests, WaitingFileThatVanishedOrShrankIsLeftOut) {
  test::TempTree tree;
  ASSERT_TRUE(tree.WriteFile("short.c", Content("x", kBig - 1)));
  ASSERT_TRUE(tree.WriteFile("grown.c", Content("y", kBig + 5)));
  DeferredDigests deferred;
  DigestMap digests;
  // A file that grew is hashed over the bytes it had when it was counted.
  const char* names[] = {"gone.c", "short.c", "grown.c"};
  for (uint64_t contentClass = 0; contentClass < 3; ++contentClass) {
    DeferDigest(deferred, kBig, contentClass, Text(tree.Path(names[contentClass])), "");
    SettleDigests(deferred, digests, kBig, contentClass);
  }
  EXPECT_EQ(digests.Count(), 1);
  EXPECT_NE(digests.Find(DigestOf(Content("y", kBig))), nullptr);
}

class DeferredIntakeTest : public testing::Test {
 protected:
  void Configure(std::vector<std::string> options) {
    ASSERT_TRUE(test::ConfigureRun(options, tree.Root(), totals));
  }

  std::string Take(const std::vector<std::string>& names) {
    return test::TakeFiles(totals, tree.Root(), names);
  }

  test::TempTree tree;
  CountTotals totals;
};

// Whatever the sizes and the order, a file is a duplicate exactly when an earlier
// counted file had the same bytes, and -la names that earlier file as the source.
TEST_F(DeferredIntakeTest, DuplicatesAreThoseOfHashingEveryFile) {
  constexpr uint32_t kSeed = 7141;
  std::mt19937 random(kSeed);
  // Few sizes, so that many files share one; some contents repeat.
  const int64_t sizes[] = {100, kDeferredMinBytes - 1, kDeferredMinBytes, kBig, 3 * kBig};
  const char* fills[] = {"a", "b\n", "int x;\n", "//\n"};
  std::vector<std::string> names;
  std::vector<std::string> contents;
  std::string expected;
  int64_t duplicates = 0;
  for (int i = 0; i < 100; ++i) {
    const std::string name = "f" + std::to_string(i) + ".c";
    std::string bytes = Content(fills[random() % 4], sizes[random() % 5]);
    // Same size, one byte changed: at a sampled place or, more often, between them.
    if (random() % 3 == 0) bytes[random() % bytes.size()] = '#';
    ASSERT_TRUE(tree.WriteFile(name, bytes));
    for (size_t earlier = 0; earlier < contents.size(); ++earlier) {
      if (contents[earlier] != bytes) continue;
      expected += "duplicate file: " + name + "\n\tmd5:" + Md5Hex(DigestOf(bytes)).CStr() +
                  "\n\tdup source: " + names[earlier] + "\n";
      ++duplicates;
      break;
    }
    names.push_back(name);
    contents.push_back(bytes);
  }
  Configure({"-la"});
  EXPECT_EQ(Take(names), expected) << "seed " << kSeed;
  EXPECT_EQ(totals.dupCount, duplicates);
  EXPECT_EQ(totals.fileCount[kTypeC], 100 - duplicates);
}

// Archive members cannot be read again, so they are hashed on arrival; either way
// round, a member and a disk file of equal bytes are duplicates.
TEST_F(DeferredIntakeTest, ArchiveMembersAndWaitingDiskFilesFindEachOther) {
  const std::string bytes = Content("x = 1;\n");
  ASSERT_TRUE(tree.WriteFile("disk.c", bytes));
  const SharedString root(tree.Root().c_str());
  for (bool isMemberFirst : {false, true}) {
    Configure({"-la"});
    MemoryStream member(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int32_t>(bytes.size()));
    testing::internal::CaptureStdout();
    {
      test::TestIntake run(totals);
      if (!isMemberFirst) run.intake.TakeDiskFile(root, root, "disk.c");
      run.intake.TakeStream("archive/member.c", "archive", "archive/member.c", member);
      if (isMemberFirst) run.intake.TakeDiskFile(root, root, "disk.c");
    }
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string source = isMemberFirst ? "dup source: member.c\n" : "\tdup source: disk.c\n";
    EXPECT_EQ(out.substr(out.size() - std::min(out.size(), source.size())), source) << out;
    EXPECT_EQ(totals.dupCount, 1);
  }
}

// Waiting files belong to the totals they were counted into: neither reset totals
// nor other totals find them.
TEST_F(DeferredIntakeTest, EachTotalsKeepsItsOwnWaitingFiles) {
  const std::string bytes = Content("y++;\n");
  ASSERT_TRUE(tree.WriteFile("a.c", bytes));
  ASSERT_TRUE(tree.WriteFile("b.c", bytes));
  Configure({});
  Take({"a.c"});
  ResetTotals(totals);
  CountTotals other;
  ResetTotals(other);
  test::TakeFiles(other, tree.Root(), {"a.c"});
  Take({"b.c"});
  EXPECT_EQ(totals.dupCount, 0);
  EXPECT_EQ(other.dupCount, 0);
  test::TakeFiles(other, tree.Root(), {"b.c"});
  EXPECT_EQ(other.dupCount, 1);
}

}  // namespace
}  // namespace qm
