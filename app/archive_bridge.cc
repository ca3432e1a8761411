#include "app/archive_bridge.h"

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
  IntakeSink(CountTotals& totals, const SharedString& archiveName, bool isArgument)
      : totals_(totals), archiveName_(archiveName), isArgument_(isArgument) {}

  bool Member(DirectoryListing& directory, const SharedString& name, Stream& data,
              const uint32_t* size) override {
    return FileIntake(totals_, directory, name, &data, size);
  }

  // Every report comes after the members before it, which may still be on workers.
  void MemberTooBig(const SharedString& directory, const SharedString& name) override {
    FinishPendingFiles();
    if (settings.listAnomalies)
      PrintInfo("file too big: %s\n", Shown(DisplayPathOf({}, directory, name)).CStr());
    ++totals_.tooBigCount;
  }

  void MemberUnreadable(const SharedString& directory, const SharedString& name) override {
    FinishPendingFiles();
    if (settings.listAnomalies)
      PrintInfo("couldn't read file: %s\n", Shown(DisplayPathOf({}, directory, name)).CStr());
    ++totals_.errorCount;
  }

  // Printed whether or not -la is set; an archive named on the command line fails the run.
  void ArchiveUnreadable(ArchiveKind kind, const char* reason) override {
    FinishPendingFiles();
    if (reason == nullptr) {
      PrintError(kind == ArchiveKind::kZip ? "cannot open zip file: %s\n" : "cannot read tar/tgz file: %s\n",
                 Shown(archiveName_).CStr());
    } else {
      const char* label = kind == ArchiveKind::kXzTar      ? "tar.xz"
                          : kind == ArchiveKind::kBzip2Tar ? "tar.bz2"
                                                           : "tar.zst";
      PrintError("cannot read %s file: %s: %s\n", label, Shown(archiveName_).CStr(), reason);
    }
    ++totals_.errorCount;
    if (isArgument_) NoteRunFailure();
  }

  bool IsSkippedDirectory(const SharedString& directory) override { return HasExcludedName(directory); }

 private:
  CountTotals& totals_;
  const SharedString& archiveName_;
  const bool isArgument_;
};

}  // namespace

bool ScanArchive(const SharedString& preparedName, const SharedString& shownName, CountTotals& totals,
                 Stream& stream, bool isArgument) {
  if (!IsArchiveName(preparedName)) return false;
  const SharedString outerArchive = currentArchive;
  currentArchive = shownName;
  IntakeSink sink(totals, shownName, isArgument);
  BeginArchiveDecoding();
  ScanArchive(preparedName, stream, settings.maxFileSize, sink);
  EndArchiveDecoding();
  currentArchive = outerArchive;
  return true;
}

}  // namespace qm
