#include "tests/support/archive_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tests/support/run_tool.h"

namespace qm::test {

namespace {

// The absolute path of an executable named name on PATH, or empty when there is none.
std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  const std::string directories = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= directories.size()) {
    size_t end = directories.find(':', start);
    if (end == std::string::npos) end = directories.size();
    const std::string directory = directories.substr(start, end - start);
    if (!directory.empty()) {
      const std::string candidate = directory + "/" + name;
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    start = end + 1;
  }
  return std::string();
}

}  // namespace

testing::AssertionResult RunsCleanly(const std::string& name, const std::vector<std::string>& args,
                                     const std::string& workDir, std::string* out,
                                     const std::string* standardInput) {
  const std::string program = FindProgram(name);
  if (program.empty()) return testing::AssertionFailure() << name << " is not on PATH";
  ToolOptions options;
  options.workDir = workDir;
  if (standardInput != nullptr) options.standardInput = *standardInput;
  const ToolResult result = RunProgram(program, args, options);
  if (result.exitStatus != 0) {
    return testing::AssertionFailure() << name << " failed (status " << result.exitStatus << ", signal "
                                       << result.signal << "): " << result.err;
  }
  if (out != nullptr) *out = result.out;
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
