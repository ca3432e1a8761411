// Archive fixtures for the reader and end-to-end tests: small byte-level helpers to
// build, inspect and damage the tar, gzip and zip files that tests make at run time,
// by hand or with the machine's archivers (GNU tar, gzip, Info-ZIP zip, Python 3), so
// no binary fixture is committed. Everything works on std::string byte buffers; nothing here knows the
// product's readers, so a fixture cannot share a fault with the code it tests.
// Helpers return false (or an empty result) on failure and never throw.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qm::test {

// The absolute path of an executable named name on PATH, or empty when there is none.
std::string FindProgram(const std::string& name);

// Runs the program named name (looked up on PATH) with args in workDir, feeding
// standardInput when given. Success when it exits with status 0; its standard output
// is stored in *out when out is not null. A failure message carries the program's
// standard error, so ASSERT_TRUE(RunsCleanly(...)) explains itself.
testing::AssertionResult RunsCleanly(const std::string& name, const std::vector<std::string>& args,
                                     const std::string& workDir, std::string* out = nullptr,
                                     const std::string* standardInput = nullptr);

// The whole content of the file at path.
bool ReadFileBytes(const std::string& path, std::string& bytes);

// The CRC-32 of gzip and zip (reflected polynomial 0xEDB88320), computed bit by bit.
uint32_t Crc32Of(const std::string& bytes);

uint32_t GetLittleEndian32(const std::string& bytes, size_t offset);
void PutLittleEndian32(std::string& bytes, size_t offset, uint32_t value);

// A gzip member without name or time whose DEFLATE data is a row of stored blocks of
// blockSize bytes each (the last one shorter, and final), followed by a correct CRC-32
// and ISIZE. The layout is fixed, so a test can damage one exact field: block k starts
// at StoredBlockOffset(k, blockSize) with one header byte, then LEN and NLEN (two bytes
// each, little-endian), then its data. Requires: 0 < blockSize <= 65535.
std::string GzipOfStoredBlocks(const std::string& data, size_t blockSize);
constexpr size_t StoredBlockOffset(size_t k, size_t blockSize) {
  return 10 + k * (5 + blockSize);
}

// A POSIX ustar header block for a member of size bytes with the given type flag and
// name prefix, its checksum written as 6 octal digits, NUL, blank. With signedSum the
// checksum adds the bytes as signed chars, as some old writers did.
std::string TarHeader(const std::string& name, int64_t size, char type = '0', const std::string& prefix = "",
                      bool signedSum = false);
// data padded with zero bytes to the next 512-byte boundary.
std::string TarPadded(const std::string& data);
// A member of the given type: its header and its padded data.
std::string TarMember(const std::string& name, const std::string& data, char type = '0');

// One entry of a zip archive, as found through its central directory.
struct ZipRecord {
  std::string name;
  size_t centralOffset = 0;  // of the central directory header's signature
  size_t localOffset = 0;    // of the local header's signature
  size_t dataOffset = 0;     // of the entry's first data byte
};

// The entries of a zip archive without zip64 records, in directory order, and the
// offset of its end of central directory record. False when the structure cannot be
// followed.
bool ListZipRecords(const std::string& zip, std::vector<ZipRecord>& records, size_t& endRecordOffset);

// Field offsets inside a central directory header, from its signature.
inline constexpr size_t kCentralCrc32 = 16;
inline constexpr size_t kCentralUncompressedSize = 24;
// Field offset inside the end of central directory record: the directory's offset.
inline constexpr size_t kEndRecordDirectoryOffset = 16;

}  // namespace qm::test
