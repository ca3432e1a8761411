// Fuzz target for the path text operations NormalizePath, JoinPath and MakeRelative.
// The input is cut at NUL bytes into up to three texts a, b and r (a path never holds
// a NUL); missing pieces are empty. Besides memory safety and time (the rewriting
// loops must stay near linear on any text), it checks what the rewriting rules
// guarantee:
//  - normalising never lengthens a path, leaves no '\', no run of three slashes and
//    at most one "//" (only the first run of slashes may keep two);
//  - joining with a b that normalises to nothing gives a back untouched, joining to
//    an empty a gives the normalised b, and a join is never longer than a + '/' + b;
//  - MakeRelative of base + "/" + r against a normalised base gives the normalised r
//    (how every path below a directory argument is shown), and it never produces
//    more than one "../" per component of base in front of the path.
// Normalising twice is not checked for stability: the rules do not promise it
// ("a/b/.." gives "a/", which normalises to "a"; quotes around "./x" leave "./x").
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "core/path.h"
#include "core/shared_string.h"

namespace {

std::string_view View(const qm::SharedString& text) {
  return std::string_view(text.CStr(), static_cast<size_t>(text.Length()));
}

// Holds for every NormalizePath result.
void CheckNormalShape(const qm::SharedString& path) {
  const std::string_view text = View(path);
  if (text.find('\\') != std::string_view::npos) std::abort();
  if (text.find("///") != std::string_view::npos) std::abort();
  const size_t firstDouble = text.find("//");
  if (firstDouble != std::string_view::npos && text.find("//", firstDouble + 1) != std::string_view::npos) {
    std::abort();
  }
}

qm::SharedString Normalized(const qm::SharedString& path) {
  qm::SharedString copy(path);
  qm::NormalizePath(copy);
  return copy;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (size_t{1} << 16)) return 0;
  const char* cursor = reinterpret_cast<const char*>(data);
  const char* end = cursor + size;
  qm::SharedString pieces[3];
  for (qm::SharedString& piece : pieces) {
    if (cursor >= end) break;
    const char* stop = static_cast<const char*>(std::memchr(cursor, 0, static_cast<size_t>(end - cursor)));
    if (stop == nullptr) stop = end;
    piece = qm::SharedString(cursor, stop);
    cursor = stop == end ? end : stop + 1;
  }
  const qm::SharedString& a = pieces[0];
  const qm::SharedString& b = pieces[1];
  const qm::SharedString& r = pieces[2];

  const qm::SharedString normalA = Normalized(a);
  const qm::SharedString normalB = Normalized(b);
  if (normalA.Length() > a.Length() || normalB.Length() > b.Length()) std::abort();
  CheckNormalShape(normalA);
  CheckNormalShape(normalB);

  const qm::SharedString joined = qm::JoinPath(a, b);
  if (normalB.IsEmpty()) {
    if (View(joined) != View(a)) std::abort();
  } else if (a.IsEmpty()) {
    if (View(joined) != View(normalB)) std::abort();
  } else {
    CheckNormalShape(joined);
    if (joined.Length() > a.Length() + 1 + b.Length()) std::abort();
  }

  const qm::SharedString relative = qm::MakeRelative(b, a);
  CheckNormalShape(relative);
  int32_t baseComponents = 1;
  for (char c : View(normalA)) baseComponents += c == '/';
  if (relative.Length() > 3 * baseComponents + b.Length()) std::abort();

  // The round trip needs a base that normalising leaves as it is, since MakeRelative
  // normalises its base again.
  if (View(Normalized(normalA)) == View(normalA)) {
    qm::SharedString below(normalA);
    below.Append("/", 1);
    below.Append(r);
    if (View(qm::MakeRelative(below, normalA)) != View(Normalized(r))) std::abort();
  }
  return 0;
}
