// Fuzz target for reading a revision: the input is the content of a git tree object,
// stored as a loose object of a repository made once in a scratch directory, and the
// revision walk counts that tree (its entries name subtrees and blobs: the tree
// itself, a second tree and a blob from the input's tail, or objects that do not
// exist). Whatever the names, modes and ids say, the walk must end, count nothing it
// cannot read, and keep the report's sums consistent. Two points of a history are
// walked too, with the memo that hands unchanged subtrees over again: tree 0x04 holds
// the input as "d", tree 0x05 holds it as "d" and tree 0x02 as "e"; each must count
// exactly what a walk of its own counts (the input may name 0x04 or 0x05 itself, so a
// replayed subtree may hold one of its new ancestors). Objects are written here in git's
// loose form (zlib with stored blocks), under ids of our choosing: the repository does
// not recompute ids on reading.
#include <git2.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/exclusions.h"
#include "app/file_intake.h"
#include "app/file_types.h"
#include "app/git_revision.h"
#include "app/message_output.h"
#include "app/progress_display.h"
#include "app/revision_walk.h"
#include "app/run_state.h"
#include "app/settings.h"
#include "count/classify_text.h"

namespace {

std::string repository;

void WriteFile(const std::string& path, const std::string& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

// zlib's form of the bytes with stored (uncompressed) blocks.
std::string Zlib(const std::string& bytes) {
  std::string out("\x78\x01", 2);
  size_t at = 0;
  do {
    const size_t piece = bytes.size() - at < 65535 ? bytes.size() - at : 65535;
    const bool isLast = at + piece == bytes.size();
    out.push_back(static_cast<char>(isLast ? 1 : 0));
    out.push_back(static_cast<char>(piece & 0xFF));
    out.push_back(static_cast<char>(piece >> 8));
    out.push_back(static_cast<char>(~piece & 0xFF));
    out.push_back(static_cast<char>((~piece >> 8) & 0xFF));
    out.append(bytes, at, piece);
    at += piece;
  } while (at < bytes.size());
  uint32_t a = 1, b = 0;
  for (unsigned char c : bytes) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  const uint32_t adler = b << 16 | a;
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(adler >> shift));
  return out;
}

std::string Hex(uint8_t fill) {
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (int i = 0; i < 20; ++i) {
    hex.push_back(kHex[fill >> 4]);
    hex.push_back(kHex[fill & 15]);
  }
  return hex;
}

// Stores an object of the given type under the id made of 20 bytes `fill`.
void WriteObject(uint8_t fill, const char* type, const std::string& content) {
  const std::string hex = Hex(fill);
  const std::string directory = repository + "/.git/objects/" + hex.substr(0, 2);
  mkdir(directory.c_str(), 0755);
  WriteFile(directory + "/" + hex.substr(2),
            Zlib(std::string(type) + " " + std::to_string(content.size()) + std::string(1, '\0') + content));
}

void RemoveRepository() {
  if (!repository.empty()) std::system(("rm -rf '" + repository + "'").c_str());
}

void MakeRepository() {
  char scratch[] = "/tmp/quillmet-revision-fuzz-XXXXXX";
  if (mkdtemp(scratch) == nullptr) std::abort();
  repository = scratch;
  std::atexit(RemoveRepository);
  for (const char* directory : {"/.git", "/.git/objects", "/.git/refs", "/.git/refs/heads"}) {
    mkdir((repository + directory).c_str(), 0755);
  }
  WriteFile(repository + "/.git/HEAD", "ref: refs/heads/main\n");
  WriteFile(repository + "/.git/config", "[core]\n\trepositoryformatversion = 0\n\tbare = false\n");
}

std::string TreeEntry(const char* name, uint8_t fill) {
  return std::string("40000 ") + name + std::string(1, '\0') + std::string(20, static_cast<char>(fill));
}

// Counts tree `fill` as a revision's directory; with a memo, as the next point of a history.
void Walk(uint8_t fill, qm::CountTotals& totals, qm::RevisionWalkMemo* memo) {
  qm::ResetTotals(totals);
  qm::MessageOutput output;
  qm::ProgressDisplay progress(false);
  qm::Exclusions exclusions;
  qm::GitRepository git;
  qm::RevisionContent content(git);
  qm::SharedString subPath, reason;
  if (!git.Open(repository.c_str(), subPath, reason)) std::abort();
  qm::FileIntake intake(totals, output, progress, exclusions, qm::IntakeRecording{});
  intake.Start(0);
  qm::GitObjectId tree;
  for (uint8_t& byte : tree.bytes) byte = fill;
  qm::WalkTree(intake, exclusions, git, content, git.Workdir(), tree, memo);
  intake.Finish();
  if (memo != nullptr) memo->NextPoint();
}

bool SameCounts(const qm::CountTotals& a, const qm::CountTotals& b) {
  for (int type = 0; type < qm::kTypeSlots; ++type) {
    if (a.fileCount[type] != b.fileCount[type] || a.lineCount[type] != b.lineCount[type] ||
        a.codeLines[type] != b.codeLines[type] || a.commentLines[type] != b.commentLines[type] ||
        a.blankLines[type] != b.blankLines[type] || a.byteCount[type] != b.byteCount[type]) {
      return false;
    }
  }
  return a.errorCount == b.errorCount && a.dupCount == b.dupCount && a.emptyCount == b.emptyCount;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  if (repository.empty()) {
    MakeRepository();
    // Kept initialised for the whole run: each walk's repository would start libgit2 again.
    git_libgit2_init();
    qm::settings.allLanguages = true;
    qm::BuildExtensionMap();
    qm::BuildCharClassTable(true);
  }
  const std::string input(reinterpret_cast<const char*>(data), size);
  // The input is tree 0x01; its first half again is tree 0x02, its tail blob 0x03.
  WriteObject(0x01, "tree", input);
  WriteObject(0x02, "tree", input.substr(0, size / 2));
  WriteObject(0x03, "blob", input.substr(size / 2));
  WriteObject(0x04, "tree", TreeEntry("d", 0x01));
  WriteObject(0x05, "tree", TreeEntry("d", 0x01) + TreeEntry("e", 0x02));
  qm::CountTotals totals;
  Walk(0x01, totals, nullptr);
  qm::CountTotals first, second, firstAgain, secondAgain;
  Walk(0x04, first, nullptr);
  Walk(0x05, second, nullptr);
  qm::RevisionWalkMemo memo;
  Walk(0x04, firstAgain, &memo);
  Walk(0x05, secondAgain, &memo);
  if (!SameCounts(first, firstAgain) || !SameCounts(second, secondAgain)) std::abort();
  for (int type = 0; type < qm::kTypeSlots; ++type) {
    const int64_t parts = totals.blankLines[type] + totals.commentLines[type] + totals.codeLines[type] +
                          totals.punctLines[type];
    if (parts != totals.lineCount[type] || totals.fileCount[type] < 0) std::abort();
  }
  qm::ClearRunState();
  return 0;
}
