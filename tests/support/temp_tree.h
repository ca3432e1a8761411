// TempTree: a scratch directory for one test, made under $TMPDIR (or /tmp) and removed
// with everything below it when the object dies, also where a test took permissions
// away (every directory is made writable and searchable again before it is emptied).
// Paths given to the helpers are relative to the root; parent directories are made as
// needed. Bytes are written exactly as given. Helpers return false on any failure and
// never throw; a test should ASSERT_TRUE on them. Deep trees are removed
// through directory descriptors, so they may run past PATH_MAX. Not copyable.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace qm::test {

class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // Absolute path of the root, without a trailing '/'. Empty when it could not be made.
  const std::string& Root() const { return root_; }
  // Root() + "/" + relative (relative empty gives Root()).
  std::string Path(const std::string& relative) const;

  bool MakeDir(const std::string& relative);
  bool WriteFile(const std::string& relative, const std::string& bytes);
  // A file of sizeInBytes bytes, each byte taken in turn from fill (fill not empty).
  bool WriteSizedFile(const std::string& relative, int64_t sizeInBytes, const std::string& fill);
  bool MakeSymlink(const std::string& relative, const std::string& target);
  bool MakeFifo(const std::string& relative);
  bool MakeSocket(const std::string& relative);
  bool SetMode(const std::string& relative, mode_t mode);

 private:
  bool MakeParents(const std::string& relative);

  std::string root_;
};

}  // namespace qm::test
