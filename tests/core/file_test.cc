#include "core/file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "core/standard_streams.h"
#include "tests/support/stream_writes.h"
#include "tests/support/temp_tree.h"

namespace qm {
namespace {

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

SharedString S(const std::string& text) {
  return SharedString(text.c_str());
}

// Opened descriptors are close-on-exec and blocking; new files get mode 0600.
TEST(File, OpenFollowsTheCreateAndTruncateRules) {
  test::TempTree tree;
  ASSERT_TRUE(tree.WriteFile("old", "old bytes"));
  const std::string old = tree.Path("old");
  const std::string fresh = tree.Path("fresh");
  struct Case {
    uint32_t mode;
    std::string path;
    bool opens;
    std::string contentAfter;  // of the path, after the open
  };
  const Case cases[] = {
      {kFileWrite | kFileCreate, old, false, "old bytes"},  // create alone is exclusive
      {kFileWrite | kFileCreate | kFileTruncate, old, true, ""},
      {kFileWrite | kFileTruncate, fresh, false, ""},  // truncate alone needs the file
      {kFileRead, fresh, false, ""},
      {kFileWrite | kFileCreate, fresh, true, ""},
      {0 | kFileCreate, tree.Path("other"), false, ""},  // no access bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " mode " + std::to_string(c.mode));
    File file;
    EXPECT_EQ(file.Open(S(c.path), c.mode, 0), c.opens);
    if (!c.opens) {
      EXPECT_EQ(file.Flags(), 0u);
      EXPECT_TRUE(file.Path().IsEmpty());
    } else {
      EXPECT_EQ(file.Flags(), kStreamOpen | kStreamWritable | kStreamPositioned);
      EXPECT_EQ(Contents(c.path), c.contentAfter);
      EXPECT_NE(::fcntl(file.Descriptor(), F_GETFD) & FD_CLOEXEC, 0);
      EXPECT_EQ(::fcntl(file.Descriptor(), F_GETFL) & O_NONBLOCK, 0);
    }
  }
  struct stat status;
  ASSERT_EQ(::stat(fresh.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
}

TEST(File, AppendWritesAtTheEndAndKeepsTheOffset) {
  test::TempTree tree;
  ASSERT_TRUE(tree.WriteFile("log", "0123456789"));
  File file;
  ASSERT_TRUE(file.Open(S(tree.Path("log")), kFileRead | kFileWrite | kFileAppend, 0));
  ASSERT_TRUE(file.Seek(4, kSeekStart));
  ASSERT_TRUE(test::WriteAll(file, "abc", 3));
  EXPECT_EQ(file.Tell(), 4);
  EXPECT_EQ(file.ReadByte(), '4');
  EXPECT_EQ(Contents(tree.Path("log")), "0123456789abc");
}

TEST(File, DuplicateKeepsTheDataAndTheOffset) {
  test::TempTree tree;
  File file;
  ASSERT_TRUE(file.Open(S(tree.Path("out")), kFileRead | kFileWrite | kFileCreate | kFileTruncate, 1));
  ASSERT_TRUE(test::WriteAll(file, "abcdef", 6));
  ASSERT_TRUE(file.Seek(2, kSeekStart));
  const int64_t liveBefore = PoolOf<File>().LiveCount();
  {
    StreamRef<Stream> copy(file.Duplicate());
    ASSERT_TRUE(copy);
    EXPECT_EQ(static_cast<File*>(copy.Get())->Share(), 1u);
    EXPECT_EQ(copy->ReadByte(), 'c');
    EXPECT_EQ(file.Tell(), 2);  // offsets are independent
  }
  EXPECT_EQ(PoolOf<File>().LiveCount(), liveBefore);  // the copy went back to its pool
  file.Close();
  EXPECT_EQ(file.Duplicate(), nullptr);
}

TEST(File, FailedCloseNeverClosesTheDescriptorAgain) {
  test::TempTree tree;
  ASSERT_TRUE(tree.WriteFile("a", "x"));
  File* file = File::New();
  ASSERT_TRUE(file->Open(S(tree.Path("a")), kFileRead, 0));
  const int descriptor = file->Descriptor();
  ASSERT_EQ(::close(descriptor), 0);  // behind the file's back
  EXPECT_FALSE(file->Close());
  EXPECT_EQ(file->Flags(), 0u);
  const int reused = ::open(tree.Path("a").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(reused, descriptor);
  file->Destroy();  // must leave the reused number alone
  EXPECT_NE(::fcntl(reused, F_GETFD), -1);
  ::close(reused);
}

TEST(StandardStreams, InputReadsUntilTheRequestIsMetOrInputEnds) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  StandardInputStream input(fds[0]);
  EXPECT_EQ(input.Flags(), kStreamOpen | kStreamReadable);
  std::thread writer([&] {
    for (const char* piece : {"ab", "cde", "fgh"}) {
      ASSERT_EQ(::write(fds[1], piece, strlen(piece)), static_cast<ssize_t>(strlen(piece)));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::close(fds[1]);
  });
  char buffer[16] = {};
  int64_t bytesDone = 0;
  ASSERT_TRUE(input.Read(buffer, 4, bytesDone));  // spans two writes
  EXPECT_EQ(std::string(buffer, 4), "abcd");
  ASSERT_TRUE(input.Read(buffer, 16, bytesDone));  // stops at the end of input
  EXPECT_EQ(std::string(buffer, static_cast<size_t>(bytesDone)), "efgh");
  writer.join();
  ::close(fds[0]);
}

}  // namespace
}  // namespace qm
