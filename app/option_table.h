// The option table: every option of the command line in one place: its spellings, how
// it takes a value, what a shell completes after it, its lines of the usage text and
// what it does to the settings. The parser (app/command_line.cc) loops over it, the
// usage text is printed from it, and scripts/check_install_and_docs.py holds the man
// page, README and the bash and zsh completions to it. Constant data; any thread.

// Matching: a flag (forms 0) matches its short or long text exactly. An option with a
// value matches "TEXT=VALUE" for the forms with kAttached bits, "TEXT" followed by the
// next argument (taken whatever it looks like) for the kSeparate bits, and with
// kShortGlued the short text followed at once by a digit ("-j4"); its text alone with
// no value to take is an error that shows the form it wants. No text is a prefix of
// another's "TEXT=", and a glued value starts with a digit, so the order of the table
// decides nothing but the order of the usage text. The check script reads the first
// four fields of every entry, which start with {" and its short text.
#pragma once

#include <cstdint>

#include "app/settings.h"

namespace qm {

// How an option takes its value (bits; 0 for a flag).
inline constexpr uint8_t kShortAttached = 1;  // -x=VALUE
inline constexpr uint8_t kLongAttached = 2;   // --long=VALUE
inline constexpr uint8_t kShortSeparate = 4;  // -x VALUE
inline constexpr uint8_t kLongSeparate = 8;   // --long VALUE
inline constexpr uint8_t kShortGlued = 16;    // -xVALUE, VALUE starting with a digit
inline constexpr uint8_t kAttached = kShortAttached | kLongAttached;
// A list or a name: "-x=VALUE", "--long=VALUE" or "--long VALUE".
inline constexpr uint8_t kAttachedOrLong = kShortAttached | kLongAttached | kLongSeparate;
// A file: every form but glued.
inline constexpr uint8_t kAnyForm = kShortAttached | kLongAttached | kShortSeparate | kLongSeparate;

// What a shell completes as the value.
enum class ValueCompletion : uint8_t {
  kNone,         // a flag
  kText,         // free text, numbers: nothing to complete
  kFile,         // a file name
  kDirectories,  // a comma-separated list of directories
};

// What the parse does after the option.
enum class OptionEffect : uint8_t {
  kApply,       // apply() to the settings; the parse goes on
  kHelp,        // print the usage text (also any dashes followed by 'h' or '?')
  kEndOptions,  // every later argument is a directory or file ("--")
};

struct OptionSpec {
  const char* shortText;  // "-xd", or null
  const char* longText;   // "--exclude-dir", or null
  uint8_t forms;          // value forms (bits above), 0 for a flag
  ValueCompletion completion;
  // Usage text lines without their indentation: the first at 7 spaces; each later
  // line, after a '\n', at 11. Null for an option the usage text does not list.
  const char* usage;
  OptionEffect effect;
  // Applies the option: value is null for a flag. False for a value it refuses.
  bool (*apply)(const char* value, Settings& target);
  // The report format this option asks for (its file field is set by apply), or null.
  const struct ReportFormat* report;
};

extern const OptionSpec kOptionTable[];
extern const int32_t kOptionCount;

// The version banner: the usage text's first line and what -v prints.
inline constexpr const char* kVersionBanner = "Quillmet v1.9";

}  // namespace qm
