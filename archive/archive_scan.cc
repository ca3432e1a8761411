#include "archive/archive_scan.h"

#include <memory>

#include "archive/crc32.h"
#include "archive/inflate_stream.h"
#include "archive/limited_stream.h"
#include "archive/tar_reader.h"
#include "archive/zip_reader.h"
#include "core/path.h"

namespace qm {

namespace {

// Intake reads a member into a buffer of size + 1 bytes with a signed 32-bit count.
constexpr int64_t kMaxMemberSize = INT32_MAX - 1;

// Archives being scanned right now, outermost first. One thread scans.
int32_t scanDepth = 0;

class DepthGuard {
 public:
  DepthGuard() { ++scanDepth; }
  ~DepthGuard() { --scanDepth; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;
  bool IsTooDeep() const { return scanDepth > kMaxArchiveDepth; }
};

bool IsTooBig(uint64_t size, int64_t maxFileSize) {
  const int64_t limit = maxFileSize < kMaxMemberSize ? maxFileSize : kMaxMemberSize;
  return limit < 0 || size > static_cast<uint64_t>(limit);
}

// A member's directory listing and file name.
struct NamedMember {
  DirectoryListing listing;
  SharedString fileName;
};

void PrepareMember(const SharedString& storedPath, NamedMember& member) {
  SharedString directory;
  NameArchiveMember(storedPath, directory, member.fileName);
  member.listing.OpenVirtual(directory, 0);
}

// A zip entry made on Unix whose mode marks a symbolic link: its data is the link's
// target path, not file content. The walk and the tar scan pass links over; so does
// the zip scan.
bool IsSymbolicLink(const ZipEntry& entry) {
  constexpr uint16_t kMadeOnUnix = 3;
  constexpr uint32_t kFileTypeMask = 0170000;
  constexpr uint32_t kSymbolicLink = 0120000;
  return (entry.versionMadeBy >> 8) == kMadeOnUnix &&
         ((entry.externalAttributes >> 16) & kFileTypeMask) == kSymbolicLink;
}

// Reads what is left of a stream and drops it; false when a read fails. The bytes go
// to a buffer off the stack: scans nest, and their frames must stay small.
bool Drain(Stream& stream) {
  static thread_local uint8_t dropped[kStreamChunkSize];
  for (;;) {
    int64_t done = 0;
    if (!stream.Read(dropped, kStreamChunkSize, done)) return false;
    if (done == 0) return true;
  }
}

// Whether the stream ends here: a read succeeds with no byte (an InflateStream then
// has checked its trailer).
bool IsAtCheckedEnd(Stream& stream) {
  uint8_t probe = 0;
  int64_t got = 0;
  return stream.Read(&probe, 1, got) && got == 0;
}

void ScanTar(ArchiveKind kind, Stream& stream, int64_t maxFileSize, ArchiveMemberSink& sink) {
  // The decoder (4.5 KiB of tables) comes from its pool, not the stack: scans nest.
  struct PooledInflate {
    void operator()(InflateStream* stream) const { InflateStream::Delete(stream); }
  };
  std::unique_ptr<InflateStream, PooledInflate> inflate;
  Stream* tarStream = &stream;
  if (kind == ArchiveKind::kGzipTar) {
    inflate.reset(InflateStream::New(Gzip));
    inflate->SetChecksumFunction(Crc32);
    inflate->Open(&stream, nullptr, false);
    tarStream = inflate.get();
  }
  TarReader reader;
  reader.Open(tarStream);
  TarEntry entry;
  bool error = false;
  while (reader.NextEntry(entry, error)) {
    const int64_t size = entry.size;
    const char type = entry.typeFlag;
    const bool isRegular = type == 0 || type == '0' || type == '7';
    if (!isRegular) {
      error = !PassOver(*tarStream, size);
    } else {
      NamedMember member;
      PrepareMember(entry.name, member);
      if (sink.IsSkippedDirectory(member.listing.Path())) {
        error = !PassOver(*tarStream, size);
      } else if (IsTooBig(static_cast<uint64_t>(size), maxFileSize)) {
        sink.MemberTooBig(member.listing.Path(), member.fileName);
        error = !PassOver(*tarStream, size);
      } else {
        // Whatever the sink reads (also a nested archive that stops at its own end
        // block), the walk resumes at the member's end.
        LimitedStream data(*tarStream, size, false);
        const uint32_t size32 = static_cast<uint32_t>(size);
        sink.Member(member.listing, member.fileName, data, &size32);
        error = !data.SkipRest();
      }
    }
    if (error || !Skip(*tarStream, TarPaddingOf(size))) {
      error = true;
      break;
    }
  }
  // The tar end block comes before the end of the gzip data; reading on to the end
  // makes the decoder check the gzip trailer, so a corrupted .tar.gz cannot pass.
  if (!error && inflate && !Drain(*inflate)) error = true;
  if (error) sink.ArchiveUnreadable(kind);
}

void ScanZip(Stream& stream, int64_t maxFileSize, ArchiveMemberSink& sink) {
  ZipReader reader;
  if (!reader.Open(&stream, 0)) {
    sink.ArchiveUnreadable(ArchiveKind::kZip);
    return;
  }
  const ZipEntryTable& entries = reader.Entries();
  // Bytes the entries may decode in all; a positioned stream knows its size.
  const int64_t archiveBytes = stream.Size() > 0 ? stream.Size() : 0;
  uint64_t decodeBudget = archiveBytes > INT64_MAX / kMaxInflateRatio
                              ? static_cast<uint64_t>(INT64_MAX)
                              : static_cast<uint64_t>(archiveBytes * kMaxInflateRatio);
  // Every directory record is a member, also one whose name came before: the
  // directory, not the names, says what the archive holds.
  for (int32_t i = 0; i < entries.Count(); ++i) {
    const ZipEntry& entry = entries[i];
    if (IsSymbolicLink(entry)) continue;
    const uint64_t size = entry.uncompressedSize;
    NamedMember member;
    PrepareMember(entry.name, member);
    if (sink.IsSkippedDirectory(member.listing.Path())) continue;
    if (IsTooBig(size, maxFileSize)) {
      sink.MemberTooBig(member.listing.Path(), member.fileName);
      continue;
    }
    if (size > decodeBudget) {
      sink.ArchiveUnreadable(ArchiveKind::kZip);
      return;
    }
    decodeBudget -= size;
    ZipOpenFailure failure = ZipOpenFailure::kNone;
    InflateStream* entryStream = reader.OpenEntry(i, nullptr, false, &failure);
    if (entryStream == nullptr) {
      // A method this reader does not know is passed over without a word; an entry
      // whose data cannot be found or needs a password is a member that was lost.
      if (failure == ZipOpenFailure::kUnsupportedMethod) continue;
      sink.MemberUnreadable(member.listing.Path(), member.fileName);
      continue;
    }
    if (size == 0 && !IsAtCheckedEnd(*entryStream)) {
      // Nothing would be read from an entry the directory says is empty, so its end
      // and CRC-32 are checked here: data the directory does not count is damage, not
      // an empty file.
      InflateStream::Delete(entryStream);
      sink.MemberUnreadable(member.listing.Path(), member.fileName);
      continue;
    }
    {
      // The window checks at its last byte that the entry ends there with a good
      // CRC-32, even when the reader stops at exactly the directory's size.
      LimitedStream data(*entryStream, static_cast<int64_t>(size), true);
      const uint32_t size32 = static_cast<uint32_t>(size);
      sink.Member(member.listing, member.fileName, data, &size32);
    }
    InflateStream::Delete(entryStream);
  }
}

}  // namespace

ArchiveKind ArchiveKindOf(const SharedString& preparedName) {
  if (preparedName.EndsWith(".tar")) return ArchiveKind::kTar;
  if (preparedName.EndsWith(".tgz") || preparedName.EndsWith(".tar.gz")) return ArchiveKind::kGzipTar;
  if (preparedName.EndsWith(".zip")) return ArchiveKind::kZip;
  return ArchiveKind::kNone;
}

bool IsArchiveName(const SharedString& preparedName) {
  return ArchiveKindOf(preparedName) != ArchiveKind::kNone;
}

void NameArchiveMember(const SharedString& storedPath, SharedString& directory, SharedString& fileName) {
  SharedString path = storedPath;
  NormalizePath(path);
  directory = JoinPath(path, "..");
  NormalizePath(directory);
  fileName = MakeRelative(path, directory);
}

bool ScanArchive(const SharedString& preparedName, Stream& stream, int64_t maxFileSize,
                 ArchiveMemberSink& sink) {
  const ArchiveKind kind = ArchiveKindOf(preparedName);
  if (kind == ArchiveKind::kNone) return false;
  DepthGuard depth;
  if (depth.IsTooDeep()) {
    sink.ArchiveUnreadable(kind);
  } else if (kind == ArchiveKind::kZip) {
    ScanZip(stream, maxFileSize, sink);
  } else {
    ScanTar(kind, stream, maxFileSize, sink);
  }
  return true;
}

}  // namespace qm
