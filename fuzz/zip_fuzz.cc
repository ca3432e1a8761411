// Fuzz target for zip archives over a memory stream: the central directory is read,
// every entry is opened and read to its end (the first one also through a separate
// handle), then the whole archive scan runs over the same bytes. Directory walks only
// move forward and decoded output is capped; since many directory records may point
// at one expanding entry, the scan runs only for directories of up to kMaxScanEntries
// entries with a 64 KiB member limit. Any input must finish quickly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "archive/archive_scan.h"
#include "archive/zip_reader.h"
#include "core/memory_stream.h"

namespace {

constexpr int64_t kOutputCap = int64_t{1} << 22;
constexpr int32_t kMaxScanEntries = 256;

// Reads a stream to its end or failure, up to budget bytes; returns the bytes read.
int64_t ReadOut(qm::Stream& stream, int64_t budget) {
  uint8_t buffer[4096];
  int64_t total = 0;
  while (total < budget) {
    int64_t done = 0;
    if (!stream.Read(buffer, sizeof buffer, done)) break;
    if (done < 0 || done > static_cast<int64_t>(sizeof buffer)) std::abort();
    if (done == 0) break;
    total += done;
  }
  return total;
}

class ReadingSink : public qm::ArchiveMemberSink {
 public:
  bool Member(qm::DirectoryListing& directory, const qm::SharedString& name, qm::Stream& data,
              const uint32_t* size) override {
    (void)directory;
    (void)name;
    if (size == nullptr) std::abort();
    return ReadOut(data, *size) == *size;
  }
  void MemberTooBig(const qm::SharedString& directory, const qm::SharedString& name) override {
    (void)(directory.Length() + name.Length());
  }
  void MemberUnreadable(const qm::SharedString& directory, const qm::SharedString& name) override {
    (void)(directory.Length() + name.Length());
  }
  void ArchiveUnreadable(qm::ArchiveKind kind, const char* reason) override {
    if (kind != qm::ArchiveKind::kZip || reason != nullptr) std::abort();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (size_t{1} << 18)) return 0;
  qm::MemoryStream stream(data, static_cast<int32_t>(size));
  int32_t entryCount = 0;
  {
    qm::ZipReader reader;
    if (reader.Open(&stream)) {
      entryCount = reader.EntryCount();
      int64_t budget = kOutputCap;
      for (int32_t i = 0; i < reader.EntryCount() && budget > 0; ++i) {
        qm::StreamRef<qm::Stream> entry = reader.OpenEntry(i, nullptr, i == 0);
        if (!entry) continue;
        budget -= ReadOut(*entry, budget);
      }
    }
  }
  if (entryCount > kMaxScanEntries) return 0;
  stream.Seek(0, qm::kSeekStart);
  ReadingSink sink;
  if (!qm::ScanArchive("f.zip", stream, int64_t{1} << 16, sink)) std::abort();
  return 0;
}
