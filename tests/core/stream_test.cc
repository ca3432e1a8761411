#include "core/stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/memory_stream.h"
#include "core/tap_stream.h"
#include "tests/support/stream_writes.h"

namespace qm {
namespace {

// An unpositioned stream over a text that hands out at most the next chunk size per
// read (cycling through chunkSizes) and fails once failAt bytes are out.
class ChunkedStream : public Stream {
 public:
  ChunkedStream(std::string text, std::vector<int64_t> chunkSizes, int64_t failAt = -1)
      : text_(std::move(text)), chunkSizes_(std::move(chunkSizes)), failAt_(failAt) {}
  bool Read(void* buffer, int64_t count, int64_t& bytesDone) override {
    bytesDone = 0;
    if (failAt_ >= 0 && offset_ >= failAt_) return false;
    int64_t n = chunkSizes_[next_++ % chunkSizes_.size()];
    n = std::min({n, count, static_cast<int64_t>(text_.size()) - offset_});
    std::memcpy(buffer, text_.data() + offset_, static_cast<size_t>(n));
    offset_ += (bytesDone = n);
    return true;
  }
  uint32_t Flags() override { return kStreamOpen | kStreamReadable; }

 private:
  std::string text_;
  std::vector<int64_t> chunkSizes_;
  int64_t failAt_, offset_ = 0;
  size_t next_ = 0;
};

std::string Pattern(int64_t size) {
  std::string text(static_cast<size_t>(size), '\0');
  for (int64_t i = 0; i < size; ++i) text[static_cast<size_t>(i)] = static_cast<char>('a' + i * 7 % 26);
  return text;
}

std::string AsString(const Array<uint8_t>& bytes) {
  return std::string(reinterpret_cast<const char*>(bytes.Data()), static_cast<size_t>(bytes.Count()));
}

// Read until a read gives nothing, in pieces of any size; past the limit or on a read
// error it fails and leaves nothing.
TEST(ReadAll, UnpositionedStreamIsReadUntilAReadGivesNothing) {
  const std::string text = Pattern(30000);
  ChunkedStream stream(text, {8192, 1, 4000, 8192});
  Array<uint8_t> bytes;
  ASSERT_TRUE(ReadAll(stream, bytes, 1, 30000));
  EXPECT_EQ(AsString(bytes), text);
  EXPECT_GE(bytes.Capacity(), 30001);
  for (auto [failAt, limit] : {std::pair<int64_t, int64_t>{-1, 29999}, {10000, 1 << 20}}) {
    ChunkedStream refused(text, {8192}, failAt);
    EXPECT_FALSE(ReadAll(refused, bytes, 1, limit));
    EXPECT_EQ(bytes.Count(), 0) << failAt;
  }
}

// Reports more bytes than it holds, as a file that shrank after it was measured.
class ShrunkStream : public MemoryStream {
 public:
  using MemoryStream::MemoryStream;
  int64_t Size() override { return MemoryStream::Size() + 5; }
};

TEST(ReadAll, PositionedStreamCountsTheExtraByteAndRefusesShortData) {
  const char text[] = "0123456789";
  Array<uint8_t> bytes;
  MemoryStream stream(text, 10);
  EXPECT_FALSE(ReadAll(stream, bytes, 1, 10));
  ASSERT_TRUE(stream.Seek(3, kSeekStart));  // ReadAll starts from the beginning
  ASSERT_TRUE(ReadAll(stream, bytes, 1, 11));
  EXPECT_EQ(AsString(bytes), text);
  EXPECT_GE(bytes.Capacity(), 11);

  ShrunkStream shrunk(text, 10);
  EXPECT_FALSE(ReadAll(shrunk, bytes, 1, 100));
  EXPECT_EQ(bytes.Count(), 0);
}

TEST(Skip, ReadsForwardAndFailsOnAShortRead) {
  const std::string text = Pattern(20000);
  ChunkedStream stream(text, {8192});
  ASSERT_TRUE(Skip(stream, 19999));
  EXPECT_EQ(stream.ReadByte(), text.back());
  ChunkedStream shortStream(text, {100});
  EXPECT_FALSE(Skip(shortStream, 150));  // a piece that comes back short fails
  MemoryStream memory(text.data(), 100);
  ASSERT_TRUE(Skip(memory, 50));
  ASSERT_TRUE(Skip(memory, -20));  // a relative seek back
  EXPECT_EQ(memory.Tell(), 30);
  EXPECT_FALSE(Skip(stream, -1));  // not positioned: cannot go back
}

TEST(WriteAll, LoopsOverShortWritesAndFailsWhenNothingIsTaken) {
  struct Trickle : Stream {
    std::string written;
    int64_t room = 7;
    bool Write(const void* buffer, int64_t count, int64_t& bytesDone) override {
      bytesDone = std::min({count, int64_t{3}, room});
      written.append(static_cast<const char*>(buffer), static_cast<size_t>(bytesDone));
      room -= bytesDone;
      return true;
    }
  } trickle;
  EXPECT_TRUE(test::WriteAll(trickle, "abcde", 5));
  EXPECT_EQ(trickle.written, "abcde");
  EXPECT_FALSE(test::WriteAll(trickle, "fghij", 5));  // room for 2 more, then 0 bytes taken
  EXPECT_EQ(trickle.written, "abcdefg");
}

// Both the base ReadByte (over Read) and MemoryStream's own ReadByte.
TEST(ReadByte, UnreadBytesComeBackLastInFirstOut) {
  ChunkedStream chunked("xyz", {1});
  MemoryStream memory("xyz");
  for (Stream* stream : {static_cast<Stream*>(&chunked), static_cast<Stream*>(&memory)}) {
    EXPECT_EQ(stream->ReadByte(), 'x');
    stream->UnreadByte(65);
    stream->UnreadByte(66);
    stream->UnreadByte(-1);  // ignored
    std::string rest;
    for (int byte = stream->ReadByte(); byte >= 0; byte = stream->ReadByte()) rest += static_cast<char>(byte);
    EXPECT_EQ(rest, "BAyz");
    EXPECT_EQ(stream->ReadByteCount(), 3);
  }
}

// Records what happens to it: release hook, destructor and the freeing of its memory.
struct Events {
  int released = 0, destroyed = 0, freed = 0;
}* events = nullptr;

class TracedStream : public MemoryStream {
 public:
  ~TracedStream() override { ++events->destroyed; }
  void OnRelease() override { ++events->released; }
  DeallocateFunction Deallocator() const override {
    return [](void* memory) {
      ++events->freed;
      ::operator delete(memory);
    };
  }
};

// The last holder releases, destroys and frees, once.
TEST(StreamRef, LastHolderDestroysAndFrees) {
  Events seen;
  events = &seen;
  {
    StreamRef<TracedStream> first(new TracedStream());
    StreamRef<Stream> second(first);
    EXPECT_EQ(first->Holders(), 2u);
    first.Reset();
    EXPECT_EQ(seen.released, 0);
    StreamRef<Stream> moved(std::move(second));
    EXPECT_EQ(moved->Holders(), 1u);
  }
  EXPECT_TRUE(seen.released == 1 && seen.destroyed == 1 && seen.freed == 1);
}

TEST(MemoryStream, SeekClampsBelowZeroAndRefusesPast32Bits) {
  const char text[] = "abcdefgh";
  MemoryStream stream(text, 8);
  ASSERT_TRUE(stream.Seek(-5, kSeekStart));
  EXPECT_EQ(stream.Tell(), 0);
  ASSERT_TRUE(stream.Seek(-3, kSeekEnd));
  EXPECT_FALSE(stream.Seek(int64_t{1} << 31, kSeekCurrent));
  EXPECT_FALSE(stream.Seek(INT64_MAX, kSeekCurrent));
  EXPECT_EQ(stream.ReadByte(), 'f');  // a refused seek leaves the position alone
  char buffer[16];
  int64_t bytesDone = -1;
  ASSERT_TRUE(stream.Seek(100, kSeekStart));  // past the end reads nothing
  EXPECT_TRUE(stream.Read(buffer, 16, bytesDone));
  EXPECT_EQ(bytesDone, 0);
  EXPECT_FALSE(stream.Write("x", 1, bytesDone));  // borrowed bytes are read-only
}

TEST(MemoryStream, OwnedBytesGrowWithWritesAndTruncate) {
  MemoryStream stream;
  ASSERT_TRUE(test::WriteAll(stream, "hello", 5));
  ASSERT_TRUE(stream.Seek(8, kSeekStart));
  ASSERT_TRUE(test::WriteAll(stream, "!", 1));  // the gap reads as zeros
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.Data()), 9), std::string("hello\0\0\0!", 9));
  ASSERT_TRUE(stream.Seek(1, kSeekStart));
  ASSERT_TRUE(test::WriteAll(stream, "EL", 2));
  ASSERT_TRUE(stream.Truncate());
  StreamRef<Stream> copy(stream.Duplicate());
  ASSERT_TRUE(copy);
  ASSERT_TRUE(test::WriteAll(stream, "p", 1));  // the copy keeps its own bytes
  ASSERT_TRUE(copy->Rewind());
  Array<uint8_t> bytes;
  ASSERT_TRUE(ReadAll(*copy, bytes, 0, 100));
  EXPECT_EQ(AsString(bytes), "hEL");
}

// Adds a running count to every byte, so each byte must be tapped exactly once and
// in order.
void AddRunningCount(void* context, uint8_t* bytes, int64_t count) {
  auto& seen = *static_cast<int64_t*>(context);
  for (int64_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(bytes[i] + seen++);
}

TEST(TapStream, TapsEveryByteOnceWhateverTheChunkSizes) {
  const std::string text = Pattern(5000);
  std::string expected = text;
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<char>(expected[i] + i);
  ChunkedStream inner(text, {1, 7, 300, 4096});
  int64_t seen = 0;
  TapStream tap(&inner, &AddRunningCount, &seen);
  Array<uint8_t> bytes;
  ASSERT_TRUE(ReadAll(tap, bytes, 0, 1 << 20));
  EXPECT_EQ(AsString(bytes), expected);
  tap.Detach();
  EXPECT_EQ(tap.Flags(), 0u);
}

}  // namespace
}  // namespace qm
