// Archive fixtures for the reader tests: tar members built byte by byte, a bitwise
// CRC-32, and the machine's archivers (GNU tar, gzip, Info-ZIP zip, Python 3) run at
// test time, so no binary fixture is committed. Nothing here knows the product's
// readers, so a fixture cannot share a fault with the code it tests. Helpers return
// false (or an empty result) on failure and never throw.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qm::test {

// Runs the program named name (looked up on PATH) with args in workDir, its standard
// input and output on /dev/null. Success when it exits with status 0; a failure message
// carries the program's standard error, so ASSERT_TRUE(RunsCleanly(...)) explains itself.
testing::AssertionResult RunsCleanly(const std::string& name, const std::vector<std::string>& args,
                                     const std::string& workDir);

// The whole content of the file at path.
bool ReadFileBytes(const std::string& path, std::string& bytes);

// The CRC-32 of gzip and zip (reflected polynomial 0xEDB88320), computed bit by bit.
uint32_t Crc32Of(const std::string& bytes);

// A POSIX ustar header block for a member of size bytes with the given type flag and
// name prefix, its checksum written as 6 octal digits, NUL, blank. With signedSum the
// checksum adds the bytes as signed chars, as some old writers did.
std::string TarHeader(const std::string& name, int64_t size, char type = '0', const std::string& prefix = "",
                      bool signedSum = false);
// data padded with zero bytes to the next 512-byte boundary.
std::string TarPadded(const std::string& data);
// A member of the given type: its header and its padded data.
std::string TarMember(const std::string& name, const std::string& data, char type = '0');

}  // namespace qm::test
