// Runs a fuzz target over every file of its seed corpus, so that inputs once found
// (and the seeds) keep passing in the ordinary test suite. A crash or sanitizer report
// fails the test; otherwise it prints how many inputs ran.
#include <dirent.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bytes.clear();
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  std::fclose(file);
  return true;
}

int main(int argc, char** argv) {
  int ran = 0;
  std::vector<uint8_t> bytes;
  // The empty input always runs, so a target without seeds is still exercised once.
  LLVMFuzzerTestOneInput(bytes.data(), 0);
  ++ran;
  for (int i = 1; i < argc; ++i) {
    DIR* dir = opendir(argv[i]);
    if (dir == nullptr) continue;
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') names.push_back(std::string(argv[i]) + "/" + entry->d_name);
    }
    closedir(dir);
    for (const std::string& name : names) {
      if (!ReadWholeFile(name, bytes)) continue;
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++ran;
    }
  }
  std::printf("%d passed, 0 failed\n", ran);
  return 0;
}
