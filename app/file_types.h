// File types by name: the display names of the FileTypeIds, the built-in extension
// table, the run-wide extensionMap built from it and -fe, the lookup of a prepared
// file name and the -xe suffix test. The map is process-wide, built once on the main
// thread before counting and only read afterwards.

// With -al the language table (count/language_table.h) adds its extensions, exact
// file names, name prefixes and "#!" interpreters; only then is a file's content
// inspected (ShebangTypeOf, for a name IsShebangCandidate accepts). Names given to
// FileTypeOf, IsShebangCandidate and IsExcludedName are prepared by intake: trimmed,
// ASCII-lowered.
#pragma once

#include "core/hash_table.h"
#include "core/shared_string.h"
#include "count/file_type_id.h"

namespace qm {

// Display names indexed by FileTypeId 0 ("Unknown") to kTypeInvalid ("Invalid"):
// the default types, then the language table's names in table order.
extern const char* const* const TypeNames;

struct ExtensionEntry {
  const char* extension;  // lower case, with its leading '.'; null ends the table
  FileTypeId type;
};

// The 26 built-in extensions in their fixed order, ended by an entry with no text.
extern const ExtensionEntry ExtensionTable[27];

// Extension text (with its '.') -> row of ExtensionTable. A forced extension points at
// the row of its reference extension.
extern StringRefMap<ExtensionEntry> extensionMap;

// Fills extensionMap from ExtensionTable, then (with -al) from the language table and
// the default types' extras without replacing an extension already mapped, then from
// settings.forceExts in insertion order; a reference extension that names no type is
// ignored silently. With -al, exact file names and "#!" interpreters are looked up in
// tables built once from the language table and constant after.
void BuildExtensionMap();

// FileTypeId of a prepared name: with -al an exact file name first, then a name
// prefix ("kconfig." from "Kconfig.*"), then the extension by the last '.'; 0 when
// unknown or without a dot. Cost: one hash lookup per kind, one compare per prefix.
FileTypeId FileTypeOf(const SharedString& preparedName);

// Whether a file of this prepared name is typed by its "#!" line (with -al, when
// FileTypeOf found no type): the name has no dot, or an extension that no language
// and no -fe claims (".sample", ".tc"). One hash lookup.
bool IsShebangCandidate(const SharedString& preparedName);

// FileTypeId named by a "#!" line at the start of bytes (only the first 128 bytes and
// line are read): the interpreter's file name, or with "env" the first argument that is
// no option or assignment, looked up among the interpreters as it is and without a trailing
// number (python3.11 -> python). 0 without -al or a known interpreter.
FileTypeId ShebangTypeOf(const uint8_t* bytes, int64_t count);

// Writes the language listing of --languages to standard output: one line per type
// (the default ones and the table's), sorted by name without regard to ASCII case: the
// name, its comment syntax, then its extensions, exact file names and "#!" interpreters.
void PrintLanguageList();

// True when the prepared name ends with one of settings.excludeExts.
bool IsExcludedName(const SharedString& preparedName);

}  // namespace qm
