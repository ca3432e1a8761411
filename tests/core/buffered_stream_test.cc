#include "core/buffered_stream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core/memory_stream.h"
#include "tests/support/stream_writes.h"

namespace qm {
namespace {

// A MemoryStream that counts the reads and writes reaching it and can refuse writes
// past a byte budget.
class CountingStream : public MemoryStream {
 public:
  bool Read(void* buffer, int64_t count, int64_t& bytesDone) override {
    ++reads;
    return MemoryStream::Read(buffer, count, bytesDone);
  }
  bool Write(const void* buffer, int64_t count, int64_t& bytesDone) override {
    ++writes;
    if (count > writeBudget) count = writeBudget;
    writeBudget -= count;
    return MemoryStream::Write(buffer, count, bytesDone) && count > 0;
  }
  std::string Text() {
    return std::string(reinterpret_cast<const char*>(Data()), static_cast<size_t>(SizeInBytes()));
  }

  int reads = 0;
  int writes = 0;
  int64_t writeBudget = INT64_MAX;
};

TEST(BufferedStream, SmallReadsBecomeBufferSizedReads) {
  CountingStream inner;
  const std::string text(100000, 'r');
  ASSERT_TRUE(test::WriteAll(inner, text.data(), 100000));
  ASSERT_TRUE(inner.Rewind());
  BufferedStream stream(&inner, 8192);
  int64_t total = 0;
  while (stream.ReadByte() >= 0) ++total;
  EXPECT_EQ(total, 100000);
  EXPECT_EQ(inner.reads, 100000 / 8192 + 2);  // 13 fills, then the read that finds the end
  EXPECT_EQ(stream.Tell(), 100000);
}

TEST(BufferedStream, WriteAfterReadLandsWhereTheReaderStopped) {
  CountingStream inner;
  ASSERT_TRUE(test::WriteAll(inner, "abcdef", 6));
  ASSERT_TRUE(inner.Rewind());
  BufferedStream stream(&inner, 4);
  EXPECT_EQ(stream.ReadByte(), 'a');  // the buffer now holds "abcd"
  ASSERT_TRUE(test::WriteAll(stream, "X", 1));
  EXPECT_EQ(stream.Tell(), 2);
  EXPECT_EQ(stream.ReadByte(), 'c');  // switching back flushes the X out
  EXPECT_EQ(inner.Text(), "aXcdef");
  ASSERT_TRUE(stream.Seek(-2, kSeekCurrent));  // relative to the reader, not read-ahead
  EXPECT_EQ(stream.ReadByte(), 'X');
}

TEST(BufferedStream, WritesGoOutInWholeBuffersAndAtClose) {
  CountingStream inner;
  std::string expected;
  {
    BufferedStream stream(&inner, 16);
    for (int i = 0; i < 10; ++i) {
      const std::string piece = "piece" + std::to_string(i);
      ASSERT_TRUE(test::WriteAll(stream, piece.data(), static_cast<int64_t>(piece.size())));
      expected += piece;
    }
    EXPECT_EQ(inner.writes, 3);      // 60 bytes: three full buffers so far
    const std::string big(40, 'B');  // an empty buffer lets big writes straight through
    ASSERT_TRUE(stream.Flush());
    ASSERT_TRUE(test::WriteAll(stream, big.data(), 40));
    expected += big;
    ASSERT_TRUE(test::WriteAll(stream, "tail", 4));  // still buffered when the stream dies
    expected += "tail";
  }
  EXPECT_EQ(inner.Text(), expected);
}

TEST(BufferedStream, FailedFlushKeepsTheUnwrittenBytes) {
  CountingStream inner;
  inner.writeBudget = 5;
  BufferedStream stream(&inner, 64);
  ASSERT_TRUE(test::WriteAll(stream, "0123456789", 10));
  EXPECT_FALSE(stream.Flush());
  EXPECT_EQ(inner.Text(), "01234");
  inner.writeBudget = 100;
  EXPECT_TRUE(stream.Close());
  EXPECT_EQ(inner.Text(), "0123456789");
}

}  // namespace
}  // namespace qm
