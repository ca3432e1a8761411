#include "app/exclusions.h"

#include <cstring>

#include "app/settings.h"

namespace qm {

namespace {

// Whether an -xd entry excludes the directory at path: a text prefix of it, or, for an
// entry ending in '/', the directory itself.
bool IsUnder(const SharedString& path, const SharedString& prefix) {
  if (prefix.IsEmpty()) return false;
  if (path.StartsWith(prefix.CStr(), prefix.CStr() + prefix.Length())) return true;
  return prefix.EndsWith("/") && path.Length() + 1 == prefix.Length() &&
         prefix.StartsWith(path.CStr(), path.CStr() + path.Length());
}

// Whether path is the directory prefix names or lies below it (not a mere text match).
bool IsDirectoryOrBelow(const SharedString& path, const SharedString& prefix) {
  if (path.Length() == prefix.Length() || prefix.EndsWith("/")) return true;
  return path.Length() > prefix.Length() && path[prefix.Length()] == '/';
}

}  // namespace

Exclusions::Exclusions() {
  directoryHits_.Resize(settings.excludeDirs.Count());
  nameHits_.Resize(settings.excludeNames.Count());
  suffixHits_.Resize(settings.excludeExtValues.Count());
}

bool Exclusions::IsExcludedDirectory(const SharedString& path, SharedString& notice) {
  notice.Clear();
  bool isExcluded = false;
  for (int32_t i = 0; i < settings.excludeDirs.Count(); ++i) {
    const SharedString& prefix = settings.excludeDirs[i];
    if (!IsUnder(path, prefix)) continue;
    isExcluded = true;
    ++directoryHits_[i];
    if (!IsDirectoryOrBelow(path, prefix) && notice.IsEmpty()) {
      notice.Append("-xd=");
      notice.Append(Shown(settings.excludeDirValues[i]));
      notice.Append(" also excludes ");
      notice.Append(Shown(path));
      notice.Append(" (a text prefix)\n");
    }
  }
  return isExcluded;
}

bool Exclusions::IsExcludedName(const char* begin, const char* end) {
  bool isExcluded = false;
  for (int32_t i = 0; i < settings.excludeNames.Count(); ++i) {
    const SharedString& name = settings.excludeNames[i];
    if (name.Length() == end - begin &&
        std::memcmp(name.CStr(), begin, static_cast<size_t>(end - begin)) == 0) {
      isExcluded = true;
      ++nameHits_[i];
    }
  }
  return isExcluded;
}

bool Exclusions::HasExcludedName(const SharedString& directoryPath) {
  const char* cursor = directoryPath.CStr();
  const char* end = cursor + directoryPath.Length();
  while (cursor < end) {
    const char* slash = static_cast<const char*>(std::memchr(cursor, '/', static_cast<size_t>(end - cursor)));
    if (slash == nullptr) slash = end;
    if (IsExcludedName(cursor, slash)) return true;
    cursor = slash + 1;
  }
  return false;
}

void Exclusions::NoteExcludedSuffix(const SharedString& preparedName) {
  // The user's values come first in excludeExts, in the order of excludeExtValues.
  for (int32_t i = 0; i < suffixHits_.Count(); ++i) {
    if (preparedName.EndsWith(settings.excludeExts[i])) ++suffixHits_[i];
  }
}

void Exclusions::ReportUnused(MessageOutput& output) const {
  const struct {
    const char* option;
    const Array<int64_t>& hits;
    const Array<SharedString>& values;
  } lists[] = {{"-xd", directoryHits_, settings.excludeDirValues},
               {"-xn", nameHits_, settings.excludeNames},
               {"-xe", suffixHits_, settings.excludeExtValues}};
  for (const auto& list : lists) {
    for (int32_t i = 0; i < list.hits.Count(); ++i) {
      if (list.hits[i] == 0)
        output.Error("%s=%s excluded nothing\n", list.option, Shown(list.values[i]).CStr());
    }
  }
}

}  // namespace qm
