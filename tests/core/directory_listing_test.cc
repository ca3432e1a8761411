#include "core/directory_listing.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/runtime_lock.h"
#include "tests/support/temp_tree.h"

namespace qm {
namespace {

// Every entry, sorted (the system's order is not fixed): a directory gets a trailing
// '/', a link a trailing '@'.
std::vector<std::string> ReadAll(DirectoryListing& listing) {
  std::vector<std::string> seen;
  DirEntry entry;
  while (listing.ReadNext(entry)) {
    seen.push_back(std::string(entry.name.CStr()) + (entry.isDirectory ? "/" : "") +
                   (entry.isLink ? "@" : ""));
  }
  std::sort(seen.begin(), seen.end());
  return seen;
}

class DirectoryListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(tree.Root().empty());
    ASSERT_TRUE(tree.WriteFile("d/f1", "one"));
    ASSERT_TRUE(tree.WriteFile("d/f2", "two"));
    ASSERT_TRUE(tree.WriteFile("d/s/inner", "x"));
    ASSERT_TRUE(tree.MakeSymlink("d/to_file", "f1"));
    ASSERT_TRUE(tree.MakeSymlink("d/to_dir", "s"));
    ASSERT_TRUE(tree.MakeSymlink("d/dangling", "missing"));
  }
  SharedString PathOf(const char* relative) { return tree.Path(relative).c_str(); }

  test::TempTree tree;
};

// ReadNext takes the runtime lock and must release it: a lock left held would make
// the final (non-recursive) Lock hang the test.
TEST_F(DirectoryListingTest, OptionsDecideDotDotAndLinks) {
  ASSERT_TRUE(RuntimeLock::Create());
  struct Case {
    uint32_t options;
    std::vector<std::string> expected;
  } cases[] = {
      {0, {"f1", "f2", "s/"}},
      {DirectoryListing::kListParent, {"../", "f1", "f2", "s/"}},
      {DirectoryListing::kFollowLinks, {"dangling@", "f1", "f2", "s/", "to_dir/@", "to_file@"}},
  };
  for (const Case& c : cases) {
    DirectoryListing listing;
    ASSERT_TRUE(listing.Open(PathOf("d"), c.options));
    EXPECT_EQ(ReadAll(listing), c.expected) << "options " << c.options;
    DirEntry entry;
    EXPECT_FALSE(listing.ReadNext(entry));  // stays exhausted
  }
  DirectoryListing root;
  ASSERT_TRUE(root.Open("/", DirectoryListing::kListParent));
  EXPECT_TRUE(root.IsRoot());
  for (const std::string& name : ReadAll(root)) EXPECT_NE(name, "../");
  RuntimeLock::Lock();
  RuntimeLock::Unlock();
  RuntimeLock::Destroy();
}

// The kind is the entry's own, never its target's, so a walk can tell what it would
// open before it opens it.
TEST_F(DirectoryListingTest, KindsAreTheEntriesOwn) {
  ASSERT_TRUE(tree.MakeFifo("d/pipe"));
  ASSERT_TRUE(tree.MakeSocket("d/socket"));
  DirectoryListing listing;
  ASSERT_TRUE(listing.Open(PathOf("d"), DirectoryListing::kFollowLinks));
  std::vector<std::string> seen;
  DirEntry entry;
  while (listing.ReadNext(entry)) {
    static constexpr const char* kNames[] = {"unknown", "file", "directory", "link", "other"};
    seen.push_back(std::string(entry.name.CStr()) + " " + kNames[static_cast<int>(entry.kind)]);
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{"dangling link", "f1 file", "f2 file", "pipe other",
                                            "s directory", "socket other", "to_dir link", "to_file link"}));
}

// ReadNext reuses the name's block only when the caller kept no copy of it.
TEST_F(DirectoryListingTest, NamesHandedOutStayIntact) {
  DirectoryListing listing;
  ASSERT_TRUE(listing.Open(PathOf("d"), 0));
  std::vector<std::pair<SharedString, std::string>> kept;
  DirEntry entry;
  while (listing.ReadNext(entry)) kept.push_back({entry.name, entry.name.CStr()});
  ASSERT_EQ(kept.size(), 3u);
  for (const auto& [name, copy] : kept) EXPECT_EQ(name.CStr(), copy);
}

TEST_F(DirectoryListingTest, OpenFollowsALinkGivenAsThePath) {
  DirectoryListing listing;
  // A relative target is taken from the link's own directory, not the working one.
  ASSERT_TRUE(listing.Open(PathOf("d/to_dir/"), 0));
  EXPECT_EQ(listing.Path().CStr(), tree.Path("d/s"));
  EXPECT_EQ(ReadAll(listing), std::vector<std::string>{"inner"});
  ASSERT_TRUE(tree.MakeSymlink("abs_link", tree.Path("d")));
  ASSERT_TRUE(listing.Open(PathOf("abs_link"), 0));
  EXPECT_EQ(listing.Path().CStr(), tree.Path("d"));
  for (const char* notADirectory : {"d/f1", "d/missing", "d/dangling", "d/to_file"}) {
    EXPECT_FALSE(listing.Open(PathOf(notADirectory), 0)) << notADirectory;
    DirEntry entry;
    EXPECT_FALSE(listing.ReadNext(entry));
  }
}

// kExactPath opens a name exactly as a directory read gave it, and never through a
// link, so a walk can neither confuse d\\x with d/x nor leave its tree.
TEST_F(DirectoryListingTest, ExactPathsAreNeitherNormalisedNorFollowed) {
  ASSERT_TRUE(tree.WriteFile("d\\x /only", "y"));
  DirectoryListing listing;
  ASSERT_TRUE(listing.Open(PathOf("d\\x "), DirectoryListing::kExactPath));
  EXPECT_EQ(listing.Path().CStr(), tree.Path("d\\x "));
  EXPECT_EQ(ReadAll(listing), std::vector<std::string>{"only"});
  EXPECT_FALSE(listing.Open(PathOf("d/to_dir"), DirectoryListing::kExactPath));
}

// A relative listing gets the working directory for its entries' absolute paths; a
// virtual one (an archive's) has a path but no entries and no working directory.
TEST_F(DirectoryListingTest, EntryPathsOfRelativeAndVirtualListings) {
  char saved[8192];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(chdir(tree.Root().c_str()), 0);
  DirectoryListing listing;
  EXPECT_TRUE(listing.Open("./d/", 0));
  EXPECT_STREQ(listing.Path().CStr(), "d");
  EXPECT_EQ(EntryPath(listing, "f1").CStr(), tree.Path("d/f1"));
  EXPECT_STREQ(DisplayPath(listing, "f1", tree.Root().c_str()).CStr(), "d/f1");
  EXPECT_TRUE(listing.Open("", 0));  // the working directory itself
  EXPECT_EQ(ReadAll(listing), std::vector<std::string>{"d/"});
  ASSERT_EQ(chdir(saved), 0);

  EXPECT_TRUE(listing.OpenVirtual("pack.tar/src/", 0));
  DirEntry entry;
  EXPECT_FALSE(listing.ReadNext(entry));
  EXPECT_STREQ(EntryPath(listing, "a.c").CStr(), "pack.tar/src/a.c");
  EXPECT_STREQ(DisplayPath(listing, "a.c", "pack.tar").CStr(), "src/a.c");
}

}  // namespace
}  // namespace qm
