#include "app/deferred_digests.h"

#include <cassert>
#include <cstring>
#include <utility>

#include "app/md5.h"
#include "core/file.h"

namespace qm {

namespace {

constexpr int64_t kReadPieceBytes = 32 * 1024;
constexpr int64_t kSamplePieces = 16;
// Opened for reading, shared for reading, writing and deleting, as intake opens files.
constexpr uint32_t kReadShare = 7;

// The finaliser of SplitMix64: a bijection of 64-bit values that spreads every input
// bit over the whole result, so the first four bytes of a class key (its bucket key)
// differ between classes.
uint64_t MixBits(uint64_t x) {
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
  return x ^ (x >> 31);
}

// The class in the first 8 bytes, the size in the last 8.
DigestKey ClassKey(uint64_t contentClass, int64_t sizeInBytes) {
  DigestKey key;
  const uint64_t size = static_cast<uint64_t>(sizeInBytes);
  std::memcpy(key.bytes, &contentClass, 8);
  std::memcpy(key.bytes + 8, &size, 8);
  return key;
}

}  // namespace

uint64_t ContentClassOf(const uint8_t* bytes, int64_t sizeInBytes) {
  uint64_t mixed = MixBits(static_cast<uint64_t>(sizeInBytes));
  if (sizeInBytes < 8) {
    for (int64_t i = 0; i < sizeInBytes; ++i) mixed = MixBits(mixed ^ bytes[i]);
    return mixed;
  }
  // Offsets run from 0 to sizeInBytes - 8, so every piece lies within the bytes.
  for (int64_t i = 0; i < kSamplePieces; ++i) {
    uint64_t piece;
    std::memcpy(&piece, bytes + (sizeInBytes - 8) * i / (kSamplePieces - 1), 8);
    mixed = MixBits(mixed ^ piece);
  }
  return mixed;
}

bool HashFileAgain(const SharedString& path, const WaitingSource& again, int64_t sizeInBytes,
                   Md5Digest& digest) {
  if (again.source != nullptr) {
    Array<uint8_t> bytes;
    bool noMemory = false;
    if (!again.source->ReadContent(again.id, bytes, noMemory) || bytes.Count() < sizeInBytes) return false;
    digest = Md5Of(bytes.Data(), static_cast<size_t>(sizeInBytes));
    return true;
  }
  File file;
  if (!file.Open(path, kFileRead, kReadShare) || !file.IsRegularFile()) return false;
  uint8_t piece[kReadPieceBytes];
  Md5State state;
  int64_t bytesLeft = sizeInBytes;
  while (bytesLeft > 0) {
    const int64_t ask = bytesLeft < kReadPieceBytes ? bytesLeft : kReadPieceBytes;
    int64_t got = 0;
    if (!file.Read(piece, ask, got) || got <= 0 || got > ask) return false;
    Md5Update(state, piece, static_cast<size_t>(got));
    bytesLeft -= got;
  }
  digest = Md5Final(state);
  return true;
}

bool MustHashNow(const DeferredDigests& deferred, int64_t sizeInBytes, uint64_t contentClass,
                 bool canReadAgain) {
  return sizeInBytes < kDeferredMinBytes || !canReadAgain ||
         deferred.classes_.IndexOf(ClassKey(contentClass, sizeInBytes)) >= 0;
}

void DeferDigest(DeferredDigests& deferred, int64_t sizeInBytes, uint64_t contentClass,
                 const SharedString& fullPath, const SharedString& displayPath, const WaitingSource& again) {
  const DigestKey key = ClassKey(contentClass, sizeInBytes);
  assert(deferred.classes_.IndexOf(key) < 0 && !fullPath.IsEmpty());
  DeferredDigests::WaitingFile& waiting = deferred.classes_.Value(deferred.classes_.FindOrInsert(key));
  waiting.fullPath = fullPath;
  waiting.displayPath = displayPath;
  waiting.again = again;
}

void SettleDigests(DeferredDigests& deferred, DigestMap& digests, int64_t sizeInBytes,
                   uint64_t contentClass) {
  if (sizeInBytes < kDeferredMinBytes) return;
  DeferredDigests::WaitingFile& waiting =
      deferred.classes_.Value(deferred.classes_.FindOrInsert(ClassKey(contentClass, sizeInBytes)));
  if (waiting.fullPath.IsEmpty()) return;
  // Moving the paths out settles the class and releases them when this returns.
  const SharedString fullPath = std::move(waiting.fullPath);
  const SharedString displayPath = std::move(waiting.displayPath);
  const WaitingSource again = waiting.again;
  Md5Digest digest;
  if (!HashFileAgain(fullPath, again, sizeInBytes, digest)) return;
  // No file of this class was entered before, so the digest is new unless the file
  // changed on disk into a copy of another: then the earlier entry stays.
  const int32_t knownDigests = digests.Count();
  const int32_t digestIndex = digests.FindOrInsert(digest);
  if (digestIndex >= knownDigests) digests.Value(digestIndex) = displayPath;
}

}  // namespace qm
