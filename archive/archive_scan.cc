#include "archive/archive_scan.h"

#include <memory>

#include "archive/bzip2_stream.h"
#include "archive/crc32.h"
#include "archive/inflate_stream.h"
#include "archive/limited_stream.h"
#include "archive/tar_reader.h"
#include "archive/xz_stream.h"
#include "archive/zip_reader.h"
#include "archive/zstd_stream.h"
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
// At most limit bytes are read (then true).
bool Drain(Stream& stream, int64_t limit = INT64_MAX) {
  static thread_local uint8_t dropped[kStreamChunkSize];
  for (int64_t total = 0; total < limit;) {
    int64_t done = 0;
    if (!stream.Read(dropped, kStreamChunkSize, done)) return false;
    if (done == 0) return true;
    total += done;
  }
  return true;
}

// Damaged data decodes to garbage before the check that catches it (a bzip2 block's
// CRC comes after its up to 900 kB), so the tar reader may fail first: this much more
// is decoded to find the decoder's own fault, the better reason.
constexpr int64_t kReasonSearchBytes = 4 << 20;

constexpr const char* kTooDeep = "nested more than 16 archives deep";
static_assert(kMaxArchiveDepth == 16);

// The decoder of a compressed tar of a library format, or null.
DecoderStream* NewTarDecoder(ArchiveKind kind) {
  switch (kind) {
    case ArchiveKind::kXzTar:
      return new XzStream();
    case ArchiveKind::kBzip2Tar:
      return new Bzip2Stream();
    case ArchiveKind::kZstdTar:
      return new ZstdStream();
    default:
      return nullptr;
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
  // The decoders live on the heap (the inflate one in its pool), not the stack: scans nest.
  struct PooledInflate {
    void operator()(InflateStream* stream) const { InflateStream::Delete(stream); }
  };
  std::unique_ptr<InflateStream, PooledInflate> inflate;
  std::unique_ptr<DecoderStream> decoder(NewTarDecoder(kind));
  Stream* tarStream = &stream;
  if (kind == ArchiveKind::kGzipTar) {
    inflate.reset(InflateStream::New(Gzip));
    inflate->SetChecksumFunction(Crc32);
    inflate->Open(&stream, nullptr, false);
    tarStream = inflate.get();
  } else if (decoder) {
    decoder->Open(&stream, false);
    tarStream = decoder.get();
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
  // The tar end block comes before the end of the compressed data; reading on to the
  // end makes the decoder check the trailers, so a corrupted .tar.gz cannot pass.
  if (!error && inflate && !Drain(*inflate)) error = true;
  if (!error && decoder && !Drain(*decoder)) error = true;
  if (!error) return;
  const char* reason = nullptr;
  if (decoder) {
    if (decoder->FailureReason() == nullptr) Drain(*decoder, kReasonSearchBytes);
    reason = decoder->FailureReason() != nullptr ? decoder->FailureReason() : "damaged tar data";
  }
  sink.ArchiveUnreadable(kind, reason);
}

void ScanZip(Stream& stream, int64_t maxFileSize, ArchiveMemberSink& sink) {
  ZipReader reader;
  if (!reader.Open(&stream, 0)) {
    sink.ArchiveUnreadable(ArchiveKind::kZip, nullptr);
    return;
  }
  const ZipEntryTable& entries = reader.Entries();
  // The archive bytes the entries may stand for in all, each by its size over its
  // method's expansion; a positioned stream knows its size.
  uint64_t decodeBudget = stream.Size() > 0 ? static_cast<uint64_t>(stream.Size()) : 0;
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
    const uint64_t ratio = static_cast<uint64_t>(MaxExpansionOf(entry.method));
    const uint64_t cost = size / ratio + (size % ratio != 0 ? 1 : 0);
    if (cost > decodeBudget) {
      sink.ArchiveUnreadable(ArchiveKind::kZip, nullptr);
      return;
    }
    decodeBudget -= cost;
    ZipOpenFailure failure = ZipOpenFailure::kNone;
    StreamRef<Stream> entryStream = reader.OpenEntry(i, nullptr, false, &failure);
    if (!entryStream) {
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
  }
}

}  // namespace

ArchiveKind ArchiveKindOf(const SharedString& preparedName) {
  static constexpr struct {
    const char* ending;
    ArchiveKind kind;
  } kEndings[] = {
      {".tar", ArchiveKind::kTar},          {".tgz", ArchiveKind::kGzipTar},
      {".tar.gz", ArchiveKind::kGzipTar},   {".zip", ArchiveKind::kZip},
      {".txz", ArchiveKind::kXzTar},        {".tar.xz", ArchiveKind::kXzTar},
      {".tbz", ArchiveKind::kBzip2Tar},     {".tbz2", ArchiveKind::kBzip2Tar},
      {".tar.bz2", ArchiveKind::kBzip2Tar}, {".tzst", ArchiveKind::kZstdTar},
      {".tar.zst", ArchiveKind::kZstdTar},
  };
  for (const auto& [ending, kind] : kEndings) {
    if (preparedName.EndsWith(ending)) return kind;
  }
  return ArchiveKind::kNone;
}

int64_t MaxExpansionOf(uint16_t zipMethod) {
  switch (zipMethod) {
    case 12:
      return int64_t{1} << 22;
    case 14:
    case 95:
      return int64_t{1} << 14;
    case 93:
      return int64_t{1} << 16;
    default:
      return kMaxInflateRatio;
  }
}

bool IsArchiveName(const SharedString& preparedName) {
  return ArchiveKindOf(preparedName) != ArchiveKind::kNone;
}

namespace {

// The index of the last '/' of a stored path that normalising leaves as it is, whose
// directory is then all before that '/' and its name all after: no byte that
// normalising trims, strips or rewrites (controls, blanks, quotes, '\\'), no '/' at
// either end, no "//", and no component that ends in '.' (which covers "." and "..").
// -1 (no '/') names a member at the top; -2 when the path is not plain. Nearly every
// member of a real archive is plain, and this spares it the five normalisations
// (about 4,000 instructions) of the general way: on the Linux .tar.xz that is 3% of
// the thread that decodes.
int32_t PlainPathLastSlash(const SharedString& path) {
  const auto* text = reinterpret_cast<const unsigned char*>(path.CStr());
  const int32_t length = path.Length();
  if (length == 0 || text[0] == '/' || text[length - 1] == '/' || text[length - 1] == '.') return -2;
  int32_t lastSlash = -1;
  for (int32_t i = 0; i < length; ++i) {
    const unsigned char byte = text[i];
    if (byte <= ' ' || byte == '\\' || byte == '\'' || byte == '"') return -2;
    if (byte == '/') {
      if (text[i - 1] == '/' || text[i - 1] == '.') return -2;
      lastSlash = i;
    }
  }
  return lastSlash;
}

}  // namespace

void NameArchiveMember(const SharedString& storedPath, SharedString& directory, SharedString& fileName) {
  const int32_t lastSlash = PlainPathLastSlash(storedPath);
  if (lastSlash >= -1) {
    const char* text = storedPath.CStr();
    directory = lastSlash < 0 ? SharedString() : SharedString(text, text + lastSlash);
    fileName = SharedString(text + lastSlash + 1, text + storedPath.Length());
    return;
  }
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
    const bool isLibraryFormat =
        kind == ArchiveKind::kXzTar || kind == ArchiveKind::kBzip2Tar || kind == ArchiveKind::kZstdTar;
    sink.ArchiveUnreadable(kind, isLibraryFormat ? kTooDeep : nullptr);
  } else if (kind == ArchiveKind::kZip) {
    ScanZip(stream, maxFileSize, sink);
  } else {
    ScanTar(kind, stream, maxFileSize, sink);
  }
  return true;
}

}  // namespace qm
