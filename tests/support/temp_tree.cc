#include "tests/support/temp_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace qm::test {
namespace {

bool WriteAllBytes(int fd, const char* data, size_t count) {
  while (count > 0) {
    ssize_t done = write(fd, data, count);
    if (done <= 0) return false;
    data += done;
    count -= static_cast<size_t>(done);
  }
  return true;
}

// Empties the directory open as dirFd (which stays owned by the caller). Directories
// are made searchable first so that trees a test locked up can still be removed.
void RemoveContents(int dirFd) {
  int listFd = dup(dirFd);
  if (listFd < 0) return;
  DIR* dir = fdopendir(listFd);
  if (dir == nullptr) {
    close(listFd);
    return;
  }
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.emplace_back(entry->d_name);
    }
  }
  closedir(dir);
  for (const std::string& name : names) {
    struct stat info;
    if (fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      fchmodat(dirFd, name.c_str(), 0700, 0);
      int childFd = openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
      if (childFd >= 0) {
        RemoveContents(childFd);
        close(childFd);
      }
      unlinkat(dirFd, name.c_str(), AT_REMOVEDIR);
    } else {
      unlinkat(dirFd, name.c_str(), 0);
    }
  }
}

}  // namespace

TempTree::TempTree() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && base[0] != 0 ? base : "/tmp") + "/quillmet-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back(0);
  if (mkdtemp(buffer.data()) != nullptr) root_ = buffer.data();
}

TempTree::~TempTree() {
  if (root_.empty()) return;
  chmod(root_.c_str(), 0700);
  int rootFd = open(root_.c_str(), O_RDONLY | O_DIRECTORY);
  if (rootFd >= 0) {
    RemoveContents(rootFd);
    close(rootFd);
  }
  rmdir(root_.c_str());
}

std::string TempTree::Path(const std::string& relative) const {
  return relative.empty() ? root_ : root_ + "/" + relative;
}

bool TempTree::MakeParents(const std::string& relative) {
  size_t slash = relative.rfind('/');
  return slash == std::string::npos || MakeDir(relative.substr(0, slash));
}

bool TempTree::MakeDir(const std::string& relative) {
  if (root_.empty()) return false;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t slash = relative.find('/', start);
    if (slash == std::string::npos) slash = relative.size();
    std::string path = Path(relative.substr(0, slash));
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return false;
    start = slash + 1;
  }
  return true;
}

bool TempTree::WriteFile(const std::string& relative, const std::string& bytes) {
  if (root_.empty() || !MakeParents(relative)) return false;
  int fd = open(Path(relative).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  bool isWritten = WriteAllBytes(fd, bytes.data(), bytes.size());
  return close(fd) == 0 && isWritten;
}

bool TempTree::WriteSizedFile(const std::string& relative, int64_t sizeInBytes, const std::string& fill) {
  if (root_.empty() || fill.empty() || !MakeParents(relative)) return false;
  int fd = open(Path(relative).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  std::string chunk;
  while (chunk.size() < 65536) chunk += fill;
  chunk.resize(65536 - 65536 % fill.size());
  bool isWritten = true;
  int64_t left = sizeInBytes;
  while (isWritten && left > 0) {
    size_t count = left < static_cast<int64_t>(chunk.size()) ? static_cast<size_t>(left) : chunk.size();
    isWritten = WriteAllBytes(fd, chunk.data(), count);
    left -= static_cast<int64_t>(count);
  }
  return close(fd) == 0 && isWritten;
}

bool TempTree::MakeSymlink(const std::string& relative, const std::string& target) {
  return !root_.empty() && MakeParents(relative) && symlink(target.c_str(), Path(relative).c_str()) == 0;
}

bool TempTree::MakeFifo(const std::string& relative) {
  return !root_.empty() && MakeParents(relative) && mkfifo(Path(relative).c_str(), 0644) == 0;
}

bool TempTree::MakeSocket(const std::string& relative) {
  if (root_.empty() || !MakeParents(relative)) return false;
  std::string path = Path(relative);
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  bool isBound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return isBound;
}

bool TempTree::SetMode(const std::string& relative, mode_t mode) {
  return !root_.empty() && chmod(Path(relative).c_str(), mode) == 0;
}

}  // namespace qm::test
