// Fuzz target for tar archives: the header walk of TarReader over the raw bytes, then
// the whole archive scan over the same bytes as a .tar and, when they start like a
// gzip member, as a .tgz, with nested archives scanned as intake would. Member data is
// read in full; every member read and skip is bounded by the input (and a gzip
// member's output by about 1000 times its input, hence the small input cap), so any
// input must finish quickly with fixed memory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "archive/archive_scan.h"
#include "archive/tar_reader.h"
#include "core/memory_stream.h"

namespace {

class ReadingSink : public qm::ArchiveMemberSink {
 public:
  bool Member(qm::DirectoryListing& directory, const qm::SharedString& name, qm::Stream& data,
              const uint32_t* size) override {
    (void)directory;
    qm::SharedString prepared = name;
    prepared.ToLower();
    if (qm::IsArchiveName(prepared)) return qm::ScanArchive(prepared, data, kMaxFileSize, *this);
    if (size == nullptr) std::abort();
    int64_t wanted = *size;
    uint8_t buffer[4096];
    while (wanted > 0) {
      int64_t done = 0;
      const int64_t piece = wanted < 4096 ? wanted : 4096;
      if (!data.Read(buffer, piece, done)) return false;
      if (done < 0 || done > piece) std::abort();
      if (done == 0) return false;
      wanted -= done;
    }
    return true;
  }
  void MemberTooBig(const qm::SharedString& directory, const qm::SharedString& name) override {
    (void)(directory.Length() + name.Length());
  }
  void MemberUnreadable(const qm::SharedString& directory, const qm::SharedString& name) override {
    (void)(directory.Length() + name.Length());
  }
  void ArchiveUnreadable(qm::ArchiveKind kind) override {
    if (kind == qm::ArchiveKind::kNone) std::abort();
  }

  static constexpr int64_t kMaxFileSize = int64_t{1} << 20;
};

void ScanAs(const char* name, const uint8_t* data, size_t size) {
  qm::MemoryStream stream(data, static_cast<int32_t>(size));
  ReadingSink sink;
  if (!qm::ScanArchive(name, stream, ReadingSink::kMaxFileSize, sink)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (size_t{1} << 16)) return 0;
  {
    qm::MemoryStream stream(data, static_cast<int32_t>(size));
    qm::TarReader reader;
    reader.Open(&stream);
    qm::TarEntry entry;
    bool error = false;
    while (reader.NextEntry(entry, error)) {
      if (entry.size < 0) std::abort();
      if (!qm::Skip(stream, entry.size) || !qm::Skip(stream, qm::TarPaddingOf(entry.size))) break;
    }
  }
  ScanAs("f.tar", data, size);
  if (size >= 2 && data[0] == 0x1F && data[1] == 0x8B) ScanAs("f.tgz", data, size);
  return 0;
}
