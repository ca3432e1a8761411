#include "tests/support/archive_fixture.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace qm::test {

testing::AssertionResult RunsCleanly(const std::string& name, const std::vector<std::string>& args,
                                     const std::string& workDir) {
  std::vector<std::string> words{name};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  int errPipe[2];
  if (pipe2(errPipe, O_CLOEXEC) != 0) return testing::AssertionFailure() << "no pipe for " << name;
  const pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls in the child.
    const int nullFd = open("/dev/null", O_RDWR);
    if (nullFd < 0 || dup2(nullFd, 0) < 0 || dup2(nullFd, 1) < 0 || dup2(errPipe[1], 2) < 0 ||
        chdir(workDir.c_str()) != 0) {
      _exit(126);
    }
    execvp(name.c_str(), argv.data());
    _exit(127);
  }
  close(errPipe[1]);
  std::string err;
  char buffer[4096];
  for (ssize_t done; (done = read(errPipe[0], buffer, sizeof buffer)) != 0;) {
    if (done > 0) err.append(buffer, static_cast<size_t>(done));
    if (done < 0 && errno != EINTR) break;
  }
  close(errPipe[0]);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return testing::AssertionFailure() << name << " failed (wait status " << status << "): " << err;
  }
  return testing::AssertionSuccess();
}

bool ReadFileBytes(const std::string& path, std::string& bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return !file.bad();
}

uint32_t Crc32Of(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (const char byte : bytes) {
    crc ^= static_cast<uint8_t>(byte);
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string TarHeader(const std::string& name, int64_t size, char type, const std::string& prefix,
                      bool signedSum) {
  std::string block(512, '\0');
  char number[24];
  block.replace(0, std::min<size_t>(name.size(), 100), name, 0, 100);
  block.replace(100, 7, "0000644");
  std::snprintf(number, sizeof number, "%011llo", static_cast<unsigned long long>(size));
  block.replace(124, 11, number);
  block[156] = type;
  block.replace(257, 8,
                std::string("ustar\0"
                            "00",
                            8));
  block.replace(345, std::min<size_t>(prefix.size(), 155), prefix, 0, 155);
  block.replace(148, 8, 8, ' ');
  int64_t sum = 0;
  for (const char c : block) sum += signedSum ? static_cast<signed char>(c) : static_cast<unsigned char>(c);
  std::snprintf(number, sizeof number, "%06llo", static_cast<long long>(sum));
  block.replace(148, 7, std::string(number) + '\0');
  return block;
}

std::string TarPadded(const std::string& data) {
  return data + std::string((512 - data.size() % 512) % 512, '\0');
}

std::string TarMember(const std::string& name, const std::string& data, char type) {
  return TarHeader(name, static_cast<int64_t>(data.size()), type) + TarPadded(data);
}

}  // namespace qm::test
