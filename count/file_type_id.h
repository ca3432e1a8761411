// FileTypeId: the small integer that names a file's source language. 1 to 17 are
// languages, 0 is a name without a known extension, 18 is a sentinel no file gets.
// The numbers are stored in the per-type counter arrays and compared as numbers, so
// they are plain constants, not an enum class. Display names live with the extension
// table (app/file_types.h).
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
inline constexpr FileTypeId kTypeInvalid = 18;

// Entries of every per-type counter array: one per FileTypeId 0 to 17.
inline constexpr int kTypeSlots = 18;

}  // namespace qm
