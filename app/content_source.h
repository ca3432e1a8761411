// ContentSource: where the bytes of a file that is not on disk come from (the blobs of a
// repository at a revision), named by a 20-byte id. Read by whichever thread works on
// the file, and read again to settle a waiting digest, so any thread; the source
// belongs to its maker and outlives every file it names.
#pragma once

#include <cstdint>

#include "core/array.h"

namespace qm {

// Names a file's content in a ContentSource (a blob's id in a repository).
struct ContentId {
  uint8_t bytes[20] = {};
};

class ContentSource {
 public:
  // Puts the content named by id into bytes (replacing what they held), with one byte
  // of room behind it. False when it cannot be read; noMemory then tells whether only
  // the buffer was missing.
  virtual bool ReadContent(const ContentId& id, Array<uint8_t>& bytes, bool& noMemory) = 0;

  // The content's size in bytes without reading it. False when it cannot be found.
  virtual bool ContentSize(const ContentId& id, int64_t& sizeInBytes) = 0;

 protected:
  ~ContentSource() = default;
};

}  // namespace qm
