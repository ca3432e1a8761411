// File types by name: the display names of the FileTypeIds, the built-in extension
// table, the run-wide extensionMap built from it and -fe, the lookup of a prepared
// file name and the -xe suffix test. Contents are never inspected. Names given to
// FileTypeOf and IsExcludedName are prepared by intake: trimmed, ASCII-lowered.
#pragma once

#include "core/hash_table.h"
#include "core/shared_string.h"
#include "count/file_type_id.h"

namespace qm {

// Display names indexed by FileTypeId 0 ("Unknown") to 18 ("Invalid").
extern const char* const TypeNames[kTypeInvalid + 1];

struct ExtensionEntry {
  const char* extension;  // lower case, with its leading '.'; null ends the table
  FileTypeId type;
};

// The 26 built-in extensions in their fixed order, ended by an entry with no text.
extern const ExtensionEntry ExtensionTable[27];

// Extension text (with its '.') -> row of ExtensionTable. A forced extension points at
// the row of its reference extension.
extern StringRefMap<ExtensionEntry> extensionMap;

// Fills extensionMap from ExtensionTable, then from settings.forceExts in insertion
// order; a reference extension that is not built in is ignored silently.
void BuildExtensionMap();

// FileTypeId of a prepared name by its last '.'; 0 when unknown or without a dot.
FileTypeId FileTypeOf(const SharedString& preparedName);

// True when the prepared name ends with one of settings.excludeExts.
bool IsExcludedName(const SharedString& preparedName);

}  // namespace qm
