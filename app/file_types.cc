#include "app/file_types.h"

#include "app/settings.h"

namespace qm {

const char* const TypeNames[kTypeInvalid + 1] = {
    "Unknown",           "D source",          "C++ source",    "C source",      "ObjC++ source",
    "ObjC source",       "C/C++ header",      "C/C++ inline",  "C# source",     "Java source",
    "JavaScript source", "Lua source",        "Python source", "Pascal source", "PHP source",
    "Go source",         "TypeScript source", "Rust source",   "Invalid",
};

const ExtensionEntry ExtensionTable[27] = {
    {".d", kTypeD},       {".cpp", kTypeCpp},       {".cc", kTypeCpp},        {".cxx", kTypeCpp},
    {".c++", kTypeCpp},   {".c", kTypeC},           {".mm", kTypeObjCpp},     {".m", kTypeObjC},
    {".h", kTypeHeader},  {".hpp", kTypeHeader},    {".hxx", kTypeHeader},    {".h++", kTypeHeader},
    {".hh", kTypeHeader}, {".inl", kTypeInline},    {".ipp", kTypeInline},    {".cs", kTypeCSharp},
    {".java", kTypeJava}, {".js", kTypeJavaScript}, {".ts", kTypeTypeScript}, {".lua", kTypeLua},
    {".py", kTypePython}, {".pas", kTypePascal},    {".dpr", kTypePascal},    {".php", kTypePhp},
    {".go", kTypeGo},     {".rs", kTypeRust},       {nullptr, kTypeInvalid},
};

StringRefMap<ExtensionEntry> extensionMap;

void BuildExtensionMap() {
  extensionMap.Clear();
  for (const ExtensionEntry* row = ExtensionTable; row->extension != nullptr; ++row) {
    extensionMap.Insert(SharedString(row->extension), row);
  }
  // A forced extension borrows the row of a built-in extension only: the table is
  // searched, not the map, so forcing never chains through another forced entry.
  const StringMap& forced = settings.forceExts;
  for (int32_t i = 0; i < forced.Count(); ++i) {
    const SharedString& reference = forced.Key(i);
    for (const ExtensionEntry* row = ExtensionTable; row->extension != nullptr; ++row) {
      if (reference == row->extension) {
        extensionMap.Insert(forced.Value(i), row);
        break;
      }
    }
  }
}

FileTypeId FileTypeOf(const SharedString& preparedName) {
  const char* text = preparedName.CStr();
  const char* end = text + preparedName.Length();
  const char* dot = end;
  while (dot != text && dot[-1] != '.') --dot;
  if (dot == text) return kTypeUnknown;
  const ExtensionEntry* const* row = extensionMap.Find(dot - 1, end);
  return row != nullptr ? (*row)->type : kTypeUnknown;
}

bool IsExcludedName(const SharedString& preparedName) {
  for (const SharedString& suffix : settings.excludeExts) {
    if (preparedName.EndsWith(suffix)) return true;
  }
  return false;
}

}  // namespace qm
