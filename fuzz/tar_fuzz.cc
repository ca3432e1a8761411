// Fuzz target for tar archives: the header walk of TarReader over the raw bytes, then
// the whole archive scan over the same bytes as a .tar and, when they start like a
// gzip member, xz stream, bzip2 stream or zstd frame, as a .tgz, .txz, .tbz2 or .tzst,
// with nested archives scanned as intake would. Member data is read in full; every
// member read and skip is bounded by the input (and a gzip member's output by about
// 1000 times its input, hence the small input cap; xz, bzip2 and zstd data may expand
// far more, so it is scanned only when a first decoding stays under kMaxDecoded), so
// any input must finish quickly with fixed memory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "archive/archive_scan.h"
#include "archive/bzip2_stream.h"
#include "archive/tar_reader.h"
#include "archive/xz_stream.h"
#include "archive/zstd_stream.h"
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
  void ArchiveUnreadable(qm::ArchiveKind kind, const char* reason) override {
    if (kind == qm::ArchiveKind::kNone) std::abort();
    const bool isLibraryFormat = kind == qm::ArchiveKind::kXzTar || kind == qm::ArchiveKind::kBzip2Tar ||
                                 kind == qm::ArchiveKind::kZstdTar;
    if (isLibraryFormat != (reason != nullptr)) std::abort();
  }

  static constexpr int64_t kMaxFileSize = int64_t{1} << 20;
};

void ScanAs(const char* name, const uint8_t* data, size_t size) {
  qm::MemoryStream stream(data, static_cast<int32_t>(size));
  ReadingSink sink;
  if (!qm::ScanArchive(name, stream, ReadingSink::kMaxFileSize, sink)) std::abort();
}

// Whether the data decodes to at most kMaxDecoded bytes (or fails before).
constexpr int64_t kMaxDecoded = int64_t{1} << 24;
bool IsSmallWhenDecoded(qm::DecoderStream& decoder, const uint8_t* data, size_t size) {
  qm::MemoryStream stream(data, static_cast<int32_t>(size));
  decoder.Open(&stream, false);
  static uint8_t buffer[1 << 16];
  for (int64_t total = 0; total <= kMaxDecoded;) {
    int64_t done = 0;
    if (!decoder.Read(buffer, sizeof buffer, done) || done == 0) return true;
    total += done;
  }
  return false;
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
  if (size >= 4 && data[0] == 0xFD && data[1] == '7' && data[2] == 'z' && data[3] == 'X') {
    qm::XzStream decoder;
    if (IsSmallWhenDecoded(decoder, data, size)) ScanAs("f.txz", data, size);
  }
  if (size >= 3 && data[0] == 'B' && data[1] == 'Z' && data[2] == 'h') {
    qm::Bzip2Stream decoder;
    if (IsSmallWhenDecoded(decoder, data, size)) ScanAs("f.tbz2", data, size);
  }
  if (size >= 4 && data[0] == 0x28 && data[1] == 0xB5 && data[2] == 0x2F && data[3] == 0xFD) {
    qm::ZstdStream decoder;
    if (IsSmallWhenDecoded(decoder, data, size)) ScanAs("f.tzst", data, size);
  }
  return 0;
}
