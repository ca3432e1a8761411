#include "tests/support/archive_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tests/support/run_tool.h"

namespace qm::test {

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

uint32_t GetLittleEndian32(const std::string& bytes, size_t offset) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value |= uint32_t{static_cast<uint8_t>(bytes[offset + i])} << (8 * i);
  return value;
}

void PutLittleEndian32(std::string& bytes, size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

namespace {

uint16_t GetLittleEndian16(const std::string& bytes, size_t offset) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes[offset]) |
                               (static_cast<uint8_t>(bytes[offset + 1]) << 8));
}

void AppendLittleEndian16(std::string& bytes, uint32_t value) {
  bytes.push_back(static_cast<char>(value & 0xFF));
  bytes.push_back(static_cast<char>((value >> 8) & 0xFF));
}

}  // namespace

std::string GzipOfStoredBlocks(const std::string& data, size_t blockSize) {
  // ID1 ID2, CM = 8, FLG = 0, MTIME = 0, XFL = 0, OS = 255 (unknown).
  std::string out("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\xff", 10);
  size_t done = 0;
  do {
    const size_t length = data.size() - done < blockSize ? data.size() - done : blockSize;
    const bool isFinal = done + length == data.size();
    out.push_back(isFinal ? '\x01' : '\x00');  // BFINAL, BTYPE 00, then padding to the byte
    AppendLittleEndian16(out, static_cast<uint32_t>(length));
    AppendLittleEndian16(out, static_cast<uint32_t>(~length & 0xFFFF));
    out.append(data, done, length);
    done += length;
  } while (done < data.size());
  out.append(8, '\0');
  PutLittleEndian32(out, out.size() - 8, Crc32Of(data));
  PutLittleEndian32(out, out.size() - 4, static_cast<uint32_t>(data.size()));
  return out;
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

bool ListZipRecords(const std::string& zip, std::vector<ZipRecord>& records, size_t& endRecordOffset) {
  records.clear();
  const size_t end = zip.rfind(std::string("PK\x05\x06", 4));
  if (end == std::string::npos || zip.size() - end < 22) return false;
  endRecordOffset = end;
  const uint16_t count = GetLittleEndian16(zip, end + 10);
  size_t at = GetLittleEndian32(zip, end + kEndRecordDirectoryOffset);
  for (uint16_t i = 0; i < count; ++i) {
    if (at > end || end - at < 46 || GetLittleEndian32(zip, at) != 0x02014b50u) return false;
    ZipRecord record;
    record.centralOffset = at;
    const size_t nameLength = GetLittleEndian16(zip, at + 28);
    const size_t extraLength = GetLittleEndian16(zip, at + 30);
    const size_t commentLength = GetLittleEndian16(zip, at + 32);
    record.localOffset = GetLittleEndian32(zip, at + 42);
    if (end - at - 46 < nameLength) return false;
    record.name = zip.substr(at + 46, nameLength);
    const size_t local = record.localOffset;
    if (local > zip.size() || zip.size() - local < 30 || GetLittleEndian32(zip, local) != 0x04034b50u)
      return false;
    record.dataOffset = local + 30 + GetLittleEndian16(zip, local + 26) + GetLittleEndian16(zip, local + 28);
    records.push_back(record);
    at += 46 + nameLength + extraLength + commentLength;
  }
  return true;
}

}  // namespace qm::test
