// FileTypeId: the small integer that names a file's source language: 1 to 17 the
// languages counted by default, 0 a name without a known extension, the -al languages
// of count/language_table.h from kTypeFirstTable on, and kTypeInvalid, after them, a
// sentinel no file gets. Constants only: no state, usable from any thread.

// The numbers index the per-type counter arrays and are compared as numbers, so they
// are plain constants, not an enum class. Display names live with the extension table
// (app/file_types.h).
#pragma once

#include <cstdint>

namespace qm {

using FileTypeId = int32_t;

inline constexpr FileTypeId kTypeUnknown = 0;
inline constexpr FileTypeId kTypeD = 1;
inline constexpr FileTypeId kTypeCpp = 2;
inline constexpr FileTypeId kTypeC = 3;
inline constexpr FileTypeId kTypeObjCpp = 4;
inline constexpr FileTypeId kTypeObjC = 5;
inline constexpr FileTypeId kTypeHeader = 6;
inline constexpr FileTypeId kTypeInline = 7;
inline constexpr FileTypeId kTypeCSharp = 8;
inline constexpr FileTypeId kTypeJava = 9;
inline constexpr FileTypeId kTypeJavaScript = 10;
inline constexpr FileTypeId kTypeLua = 11;
inline constexpr FileTypeId kTypePython = 12;
inline constexpr FileTypeId kTypePascal = 13;
inline constexpr FileTypeId kTypePhp = 14;
inline constexpr FileTypeId kTypeGo = 15;
inline constexpr FileTypeId kTypeTypeScript = 16;
inline constexpr FileTypeId kTypeRust = 17;

// The language table's entries take the ids from kTypeFirstTable on, in table order;
// the first five are read by the brace scanner, Starlark by the Python scanner, the
// rest by the generic scanner.
inline constexpr FileTypeId kTypeFirstTable = 18;
inline constexpr FileTypeId kTypeKotlin = 18;
inline constexpr FileTypeId kTypeSwift = 19;
inline constexpr FileTypeId kTypeScala = 20;
inline constexpr FileTypeId kTypeDart = 21;
inline constexpr FileTypeId kTypeGroovy = 22;
// Entries of the language table (checked against the table itself).
inline constexpr int kTableLanguageCount = 76;
// The last entry, read by the Python scanner (checked against the table's name).
inline constexpr FileTypeId kTypeStarlark = kTypeFirstTable + 75;
inline constexpr FileTypeId kTypeInvalid = kTypeFirstTable + kTableLanguageCount;

// Entries of every per-type counter array: one per FileTypeId below kTypeInvalid.
inline constexpr int kTypeSlots = kTypeInvalid;

}  // namespace qm
