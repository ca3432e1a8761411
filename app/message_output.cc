#include "app/message_output.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace qm {

namespace {

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

void MessageOutput::NoteStandardOutputResult(bool isWritten) {
  if (!isWritten && reportWriteErrno_ == 0) reportWriteErrno_ = errno != 0 ? errno : EIO;
}

void MessageOutput::Info(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int written = std::vfprintf(info_, format, arguments);
  va_end(arguments);
  if (info_ == stdout) NoteStandardOutputResult(written >= 0);
}

void MessageOutput::Error(const char* format, ...) {
  NoteStandardOutputResult(std::fflush(stdout) == 0);
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
}

void MessageOutput::WriteReport(const char* bytes, size_t length) {
  NoteStandardOutputResult(std::fwrite(bytes, 1, length, stdout) == length);
}

void MessageOutput::FinishStandardOutput() {
  NoteStandardOutputResult(std::fflush(stdout) == 0);
  if (reportWriteErrno_ == 0 && std::ferror(stdout)) reportWriteErrno_ = EIO;
  if (reportWriteErrno_ == 0) return;
  std::fprintf(stderr, "cannot write the report: %s\n", std::strerror(reportWriteErrno_));
  reportWriteErrno_ = 0;
  std::clearerr(stdout);
  NoteRunFailure();
}

}  // namespace qm
