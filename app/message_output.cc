#include "app/message_output.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "app/settings.h"

namespace qm {

namespace {

bool isRunFailed = false;
// errno of the first failed write to standard output; 0 while none failed.
int reportWriteErrno = 0;

void NoteStandardOutputResult(bool isWritten) {
  if (!isWritten && reportWriteErrno == 0) reportWriteErrno = errno != 0 ? errno : EIO;
}

bool IsControlByte(unsigned char byte) {
  return byte < 0x20 || byte == 0x7F;
}

}  // namespace

void AppendShown(SharedString& out, const char* bytes, int32_t length) {
  static constexpr char kHexDigits[] = "0123456789abcdef";
  const char* runStart = bytes;
  const char* const end = bytes + length;
  for (const char* cursor = bytes; cursor != end; ++cursor) {
    const unsigned char byte = static_cast<unsigned char>(*cursor);
    if (!IsControlByte(byte)) continue;
    out.Append(runStart, static_cast<int32_t>(cursor - runStart));
    const char escaped[4] = {'\\', 'x', kHexDigits[byte >> 4], kHexDigits[byte & 0xF]};
    out.Append(escaped, 4);
    runStart = cursor + 1;
  }
  out.Append(runStart, static_cast<int32_t>(end - runStart));
}

SharedString Shown(const SharedString& text) {
  SharedString shown;
  AppendShown(shown, text.CStr(), text.Length());
  return shown;
}

SharedString Shown(const char* text) {
  SharedString shown;
  AppendShown(shown, text, static_cast<int32_t>(std::strlen(text)));
  return shown;
}

FILE* InfoStream() {
  return settings.csvFile == "stdout" || settings.jsonFile == "stdout" ? stderr : stdout;
}

void PrintInfo(const char* format, ...) {
  FILE* const stream = InfoStream();
  va_list arguments;
  va_start(arguments, format);
  const int written = std::vfprintf(stream, format, arguments);
  va_end(arguments);
  if (stream == stdout) NoteStandardOutputResult(written >= 0);
}

void PrintError(const char* format, ...) {
  NoteStandardOutputResult(std::fflush(stdout) == 0);
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
}

void WriteReport(const char* bytes, size_t length) {
  NoteStandardOutputResult(std::fwrite(bytes, 1, length, stdout) == length);
}

void NoteRunFailure() {
  isRunFailed = true;
}

bool HasRunFailed() {
  return isRunFailed;
}

void FinishStandardOutput() {
  NoteStandardOutputResult(std::fflush(stdout) == 0);
  if (reportWriteErrno == 0 && std::ferror(stdout)) reportWriteErrno = EIO;
  if (reportWriteErrno == 0) return;
  std::fprintf(stderr, "cannot write the report: %s\n", std::strerror(reportWriteErrno));
  reportWriteErrno = 0;
  std::clearerr(stdout);
  NoteRunFailure();
}

void ResetMessageOutput() {
  isRunFailed = false;
  reportWriteErrno = 0;
}

}  // namespace qm
