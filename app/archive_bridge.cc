#include "app/archive_bridge.h"

#include <cstdio>

#include "app/file_intake.h"
#include "app/ignore_rules.h"
#include "app/message_output.h"
#include "app/settings.h"

namespace qm {

namespace {

// Archive members go to file intake; the archive scan's reports become the
// application's messages and counters.
class IntakeSink final : public ArchiveMemberSink {
 public:
  explicit IntakeSink(CountTotals& totals) : totals_(totals) {}

  bool Member(DirectoryListing& directory, const SharedString& name, Stream& data,
              const uint32_t* size) override {
    return FileIntake(totals_, directory, name, &data, size);
  }

  void MemberTooBig(const SharedString& displayPath) override {
    if (settings.listAnomalies) PrintInfo("file too big: %s\n", Shown(displayPath).CStr());
    ++totals_.tooBigCount;
  }

  void MemberUnreadable(const SharedString& path) override {
    if (settings.listAnomalies) std::printf("couldn't read file: %s\n", path.CStr());
    ++totals_.errorCount;
  }

  // Printed whether or not -la is set.
  void ArchiveUnreadable(ArchiveKind kind, const SharedString& archiveName) override {
    PrintError(kind == ArchiveKind::kZip ? "cannot open zip file: %s\n" : "cannot read tar/tgz file: %s\n",
               Shown(archiveName).CStr());
    ++totals_.errorCount;
  }

  bool IsSkippedDirectory(const SharedString& directory) override { return HasExcludedName(directory); }

 private:
  CountTotals& totals_;
};

}  // namespace

bool ScanArchive(const SharedString& preparedName, CountTotals& totals, Stream& stream) {
  IntakeSink sink(totals);
  return ScanArchive(preparedName, stream, settings.maxFileSize, sink, currentRoot, rootAsGiven);
}

}  // namespace qm
