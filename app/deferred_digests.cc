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
// bit over the whole result, so the first four key bytes (the digest map's bucket
// key) differ between classes.
uint64_t MixBits(uint64_t x) {
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
  return x ^ (x >> 31);
}

// The MD5 digest of the first sizeInBytes bytes of the regular file at path, read in
// pieces. False when it cannot be opened or ends early.
bool HashFileAgain(const SharedString& path, int64_t sizeInBytes, Md5Digest& digest) {
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

DigestKey ClassKey(uint64_t contentClass, int64_t sizeInBytes, uint64_t tag) {
  DigestKey key;
  const uint64_t sizeAndTag = static_cast<uint64_t>(sizeInBytes) ^ tag;
  std::memcpy(key.bytes, &contentClass, 8);
  std::memcpy(key.bytes + 8, &sizeAndTag, 8);
  return key;
}

bool MustHashNow(const DigestMap& digests, int64_t sizeInBytes, uint64_t contentClass, bool canReadAgain) {
  return sizeInBytes < kDeferredMinBytes || !canReadAgain ||
         digests.IndexOf(ClassKey(contentClass, sizeInBytes, kPathTag)) >= 0;
}

void DeferDigest(DigestMap& digests, int64_t sizeInBytes, uint64_t contentClass, const SharedString& fullPath,
                 const SharedString& displayPath) {
  assert(digests.IndexOf(ClassKey(contentClass, sizeInBytes, kPathTag)) < 0 && !fullPath.IsEmpty());
  digests.Insert(ClassKey(contentClass, sizeInBytes, kPathTag), fullPath);
  if (!displayPath.IsEmpty()) digests.Insert(ClassKey(contentClass, sizeInBytes, kDisplayTag), displayPath);
}

void SettleDigests(DigestMap& digests, int64_t sizeInBytes, uint64_t contentClass) {
  if (sizeInBytes < kDeferredMinBytes) return;
  // The empty path marks a class whose files are hashed on arrival.
  SharedString& waitingPath =
      digests.Value(digests.FindOrInsert(ClassKey(contentClass, sizeInBytes, kPathTag)));
  if (waitingPath.IsEmpty()) return;
  const SharedString fullPath = std::move(waitingPath);
  SharedString displayPath;
  if (SharedString* stored = digests.Find(ClassKey(contentClass, sizeInBytes, kDisplayTag)))
    displayPath = std::move(*stored);
  Md5Digest digest;
  if (!HashFileAgain(fullPath, sizeInBytes, digest)) return;
  // No file of this class was entered before, so the digest is new unless the file
  // changed on disk into a copy of another: then the earlier entry stays.
  const int32_t knownDigests = digests.Count();
  const int32_t digestIndex = digests.FindOrInsert(digest);
  if (digestIndex >= knownDigests) digests.Value(digestIndex) = displayPath;
}

}  // namespace qm
