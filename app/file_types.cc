#include "app/file_types.h"

#include <cstdio>
#include <cstring>

#include "app/settings.h"
#include "core/array.h"
#include "core/stable_sort.h"
#include "count/language_table.h"

namespace qm {

namespace {

constexpr const char* kDefaultTypeNames[kTypeFirstTable] = {
    "Unknown",       "D source",      "C++ source", "C source",    "ObjC++ source",     "ObjC source",
    "C/C++ header",  "C/C++ inline",  "C# source",  "Java source", "JavaScript source", "Lua source",
    "Python source", "Pascal source", "PHP source", "Go source",   "TypeScript source", "Rust source",
};

struct TypeNameList {
  const char* names[kTypeInvalid + 1];
  TypeNameList() {
    for (FileTypeId type = 0; type < kTypeFirstTable; ++type) names[type] = kDefaultTypeNames[type];
    for (int i = 0; i < kTableLanguageCount; ++i) names[kTypeFirstTable + i] = kLanguageTable[i].name;
    names[kTypeInvalid] = "Invalid";
  }
};

const TypeNameList typeNameList;

// The rows that -al adds: every extension, file name and interpreter of the language
// table and the extras, each as a row of its own whose text the row keeps, and the
// maps of file names and interpreters to them. Built once, on first use (any thread),
// and constant after.
struct ExtraRow {
  SharedString text;
  ExtensionEntry entry;
};
enum class RowKind { kExtension, kFileName, kInterpreter, kNamePrefix };

template <typename Visit>
void ForEachWord(const char* words, Visit visit) {
  const char* cursor = words;
  while (*cursor != 0) {
    while (*cursor == ' ') ++cursor;
    const char* start = cursor;
    while (*cursor != 0 && *cursor != ' ') ++cursor;
    if (cursor != start) visit(start, cursor);
  }
}

// Maps each row's text to the row unless the text is mapped already.
void MapRows(const Array<ExtraRow>& rows, StringRefMap<ExtensionEntry>& map) {
  for (const ExtraRow& row : rows) {
    const int32_t index = map.FindOrInsert(row.text);
    if (map.Value(index) == nullptr) map.Value(index) = &row.entry;
  }
}

struct ExtraTables {
  Array<ExtraRow> rows[4];  // by RowKind
  StringRefMap<ExtensionEntry> fileNames;
  StringRefMap<ExtensionEntry> interpreters;

  const Array<ExtraRow>& Rows(RowKind kind) const { return rows[static_cast<int>(kind)]; }

  // A file name ending in '*' ("Kconfig.*") is a prefix row of the text before the '*'.
  void AddRows(RowKind kind, const char* words, FileTypeId type) {
    ForEachWord(words, [this, kind, type](const char* begin, const char* end) {
      const bool isPrefix = kind == RowKind::kFileName && end[-1] == '*';
      Array<ExtraRow>& target = rows[static_cast<int>(isPrefix ? RowKind::kNamePrefix : kind)];
      ExtraRow row;
      row.text = SharedString(begin, isPrefix ? end - 1 : end);
      row.text.ToLower();
      row.entry.type = type;
      target.PushBack(std::move(row));
    });
  }

  ExtraTables() {
    for (int i = 0; i < kTableLanguageCount; ++i) {
      const LanguageEntry& language = kLanguageTable[i];
      const FileTypeId type = kTypeFirstTable + i;
      AddRows(RowKind::kExtension, language.extensions, type);
      AddRows(RowKind::kFileName, language.fileNames, type);
      AddRows(RowKind::kInterpreter, language.interpreters, type);
    }
    for (const BuiltinExtra& extra : kBuiltinExtras) {
      AddRows(RowKind::kExtension, extra.extensions, extra.type);
      AddRows(RowKind::kFileName, extra.fileNames, extra.type);
      AddRows(RowKind::kInterpreter, extra.interpreters, extra.type);
    }
    // The rows no longer move: their texts can be pointed at.
    for (Array<ExtraRow>& kindRows : rows) {
      for (ExtraRow& row : kindRows) row.entry.extension = row.text.CStr();
    }
    MapRows(Rows(RowKind::kFileName), fileNames);
    MapRows(Rows(RowKind::kInterpreter), interpreters);
  }
};

const ExtraTables& Extras() {
  static const ExtraTables tables;
  return tables;
}

const ExtensionEntry* FindReferenceRow(const SharedString& reference) {
  for (const ExtensionEntry* row = ExtensionTable; row->extension != nullptr; ++row) {
    if (reference == row->extension) return row;
  }
  if (!settings.allLanguages) return nullptr;
  for (const ExtraRow& row : Extras().Rows(RowKind::kExtension)) {
    if (reference == row.text) return &row.entry;
  }
  return nullptr;
}

}  // namespace

const char* const* const TypeNames = typeNameList.names;

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
  if (settings.allLanguages) MapRows(Extras().Rows(RowKind::kExtension), extensionMap);
  // A forced extension borrows the row of a built-in extension only (or, with -al, of
  // a table extension): the tables are searched, not the map, so forcing never chains
  // through another forced entry.
  const StringMap& forced = settings.forceExts;
  for (int32_t i = 0; i < forced.Count(); ++i) {
    if (const ExtensionEntry* row = FindReferenceRow(forced.Key(i)))
      extensionMap.Insert(forced.Value(i), row);
  }
}

FileTypeId FileTypeOf(const SharedString& preparedName) {
  const char* text = preparedName.CStr();
  const char* end = text + preparedName.Length();
  if (settings.allLanguages) {
    const ExtraTables& extras = Extras();
    if (const ExtensionEntry* const* row = extras.fileNames.Find(text, end)) return (*row)->type;
    for (const ExtraRow& row : extras.Rows(RowKind::kNamePrefix)) {
      if (preparedName.StartsWith(row.text.CStr())) return row.entry.type;
    }
  }
  const char* dot = end;
  while (dot != text && dot[-1] != '.') --dot;
  if (dot == text) return kTypeUnknown;
  const ExtensionEntry* const* row = extensionMap.Find(dot - 1, end);
  return row != nullptr ? (*row)->type : kTypeUnknown;
}

bool IsShebangCandidate(const SharedString& preparedName) {
  const char* text = preparedName.CStr();
  const char* end = text + preparedName.Length();
  const char* dot = end;
  while (dot != text && dot[-1] != '.') --dot;
  return dot == text || extensionMap.Find(dot - 1, end) == nullptr;
}

FileTypeId ShebangTypeOf(const uint8_t* bytes, int64_t count) {
  constexpr int64_t kShebangBytes = 128;
  if (!settings.allLanguages || count < 2 || bytes[0] != '#' || bytes[1] != '!') return kTypeUnknown;
  const StringRefMap<ExtensionEntry>& interpreterMap = Extras().interpreters;
  const char* cursor = reinterpret_cast<const char*>(bytes) + 2;
  const char* const end =
      reinterpret_cast<const char*>(bytes) + (count < kShebangBytes ? count : kShebangBytes);
  auto isSpace = [](char byte) { return byte == ' ' || byte == '\t'; };
  auto isWordEnd = [&isSpace](char byte) { return isSpace(byte) || byte == '\n' || byte == '\r'; };
  // The words of the line, each reduced to its file name.
  const char* name = nullptr;
  const char* nameEnd = nullptr;
  bool isAfterEnv = false;
  while (cursor != end) {
    while (cursor != end && isSpace(*cursor)) ++cursor;
    if (cursor == end || *cursor == '\n' || *cursor == '\r') break;
    const char* word = cursor;
    while (cursor != end && !isWordEnd(*cursor)) ++cursor;
    if (cursor == end && end - reinterpret_cast<const char*>(bytes) == kShebangBytes) break;  // cut short
    const char* base = cursor;
    while (base != word && base[-1] != '/') --base;
    if (isAfterEnv &&
        (*word == '-' || std::memchr(word, '=', static_cast<size_t>(cursor - word)) != nullptr)) {
      continue;
    }
    if (!isAfterEnv && cursor - base == 3 && std::memcmp(base, "env", 3) == 0) {
      isAfterEnv = true;
      continue;
    }
    name = base;
    nameEnd = cursor;
    break;
  }
  if (name == nullptr || nameEnd - name > 64) return kTypeUnknown;
  char lowered[64];
  const int32_t length = static_cast<int32_t>(nameEnd - name);
  for (int32_t i = 0; i < length; ++i) {
    lowered[i] = name[i] >= 'A' && name[i] <= 'Z' ? static_cast<char>(name[i] | 0x20) : name[i];
  }
  int32_t stem = length;
  if (const ExtensionEntry* const* row = interpreterMap.Find(lowered, lowered + stem)) return (*row)->type;
  while (stem > 0 && ((lowered[stem - 1] >= '0' && lowered[stem - 1] <= '9') || lowered[stem - 1] == '.'))
    --stem;
  if (stem == length || stem == 0) return kTypeUnknown;
  const ExtensionEntry* const* row = interpreterMap.Find(lowered, lowered + stem);
  return row != nullptr ? (*row)->type : kTypeUnknown;
}

bool IsExcludedName(const SharedString& preparedName) {
  for (const SharedString& suffix : settings.excludeExts) {
    if (preparedName.EndsWith(suffix)) return true;
  }
  return false;
}

namespace {

struct ListedLanguage {
  const char* name;
  SharedString files;
  SharedString comments;
};

void AppendWords(SharedString& out, const char* words, const char* prefix) {
  ForEachWord(words, [&out, prefix](const char* begin, const char* end) {
    if (!out.IsEmpty()) out.Append(" ", 1);
    out.Append(prefix);
    out.Append(begin, static_cast<int32_t>(end - begin));
  });
}

SharedString CommentSyntaxOf(const LanguageRules& rules) {
  SharedString out;
  for (const LineCommentRule& rule : rules.lineComments) {
    if (rule.opener == nullptr) break;
    AppendWords(out, rule.opener, "");
  }
  for (const BlockRule& rule : rules.blocks) {
    if (rule.opener == nullptr) break;
    if ((rule.flags & kIsLiteral) != 0) continue;
    AppendWords(out, rule.opener, "");
    if ((rule.openerFlags & kBeforeLetter) != 0) out.Append("word");
    if (rule.closer == nullptr) continue;  // to the end of the text
    out.Append(" ", 1);
    out.Append(rule.closer);
  }
  if (out.IsEmpty()) out.Append("-");
  return out;
}

int CompareNames(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const int lowerA = *a >= 'A' && *a <= 'Z' ? *a | 0x20 : static_cast<unsigned char>(*a);
    const int lowerB = *b >= 'A' && *b <= 'Z' ? *b | 0x20 : static_cast<unsigned char>(*b);
    if (lowerA != lowerB || *a == 0) return lowerA - lowerB;
  }
}

}  // namespace

void PrintLanguageList() {
  Array<ListedLanguage> languages;
  for (FileTypeId type = 1; type < kTypeFirstTable; ++type) {
    ListedLanguage listed;
    listed.name = TypeNames[type];
    for (const ExtensionEntry* row = ExtensionTable; row->extension != nullptr; ++row) {
      if (row->type == type) AppendWords(listed.files, row->extension, "");
    }
    for (const BuiltinExtra& extra : kBuiltinExtras) {
      if (extra.type != type) continue;
      AppendWords(listed.files, extra.extensions, "");
      AppendWords(listed.files, extra.fileNames, "");
      AppendWords(listed.files, extra.interpreters, "#!");
    }
    listed.comments = SharedString(kBuiltinCommentSyntax[type]);
    languages.PushBack(std::move(listed));
  }
  for (int i = 0; i < kTableLanguageCount; ++i) {
    const LanguageEntry& language = kLanguageTable[i];
    ListedLanguage listed;
    listed.name = language.name;
    AppendWords(listed.files, language.extensions, "");
    AppendWords(listed.files, language.fileNames, "");
    AppendWords(listed.files, language.interpreters, "#!");
    listed.comments = IsPythonTableType(kTypeFirstTable + i)
                          ? SharedString(kBuiltinCommentSyntax[kTypePython])
                          : CommentSyntaxOf(language.rules);
    languages.PushBack(std::move(listed));
  }
  StableSort(languages.Data(), languages.Count(), [](const ListedLanguage& a, const ListedLanguage& b) {
    return CompareNames(a.name, b.name) < 0;
  });
  int32_t commentsWidth = 0;
  for (const ListedLanguage& listed : languages) {
    if (listed.comments.Length() > commentsWidth) commentsWidth = listed.comments.Length();
  }
  SharedString out;
  for (const ListedLanguage& listed : languages) {
    char name[32];
    std::snprintf(name, sizeof name, "%-20s", listed.name);
    out.Append(name);
    out.Append(listed.comments);
    for (int32_t pad = listed.comments.Length(); pad < commentsWidth + 2; ++pad) out.Append(" ", 1);
    out.Append(listed.files);
    out.Append("\n", 1);
  }
  std::fwrite(out.CStr(), 1, static_cast<size_t>(out.Length()), stdout);
  std::fflush(stdout);
}

}  // namespace qm
