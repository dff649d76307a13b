// Recovery of an interrupted run from its run record. The record is read
// into the journal, and the same passes as at the end of a run settle it.
#include "driver/recovery.h"

#include <cstring>

#include "common/run_state.h"
#include "common/text.h"
#include "journal/durability.h"
#include "journal/journal.h"
#include "journal/journal_passes.h"
#include "journal/run_record.h"
#include "journal/uninstall_list.h"
#include "ui/progress_dialog.h"
#include "ui/resources/resource_ids.h"
#include "ui/window_helpers.h"

static const char kRolledBackMessage[] = "前回中断されたインストールを元に戻しました。";
static const char kCompletedMessage[] = "前回中断されたインストールを完了しました。";
static const char kUnreadableTemplate[] =
    "前回中断されたインストールの記録\"%s\"を読み込めませんでした。\nインストールを終了します。";
static const char kNotUndoneTemplate[] =
    "前回中断されたインストールを元に戻せませんでした。\n\"%s\"を使用しているプログラム"
    "を終了してから、もう一度実行してください。";
static const char kNotCompletedTemplate[] =
    "前回中断されたインストールを完了できませんでした。\n\"%s\"を使用しているプロ"
    "グラムを終了してから、もう一度実行してください。";

// What the record says beyond the journal: the list's temporary file and
// whether the run passed its commit point.
struct RecordedRun {
  const char *folder;
  size_t folder_length;
  char temporary[kPathBytes];
  bool committed;
  bool refused; // a path outside the data directory, or no memory
};

// Only paths inside the data directory are acted on: a record copied along
// with a game folder must not reach back into where it came from.
static bool IsInsideFolder(const RecordedRun &run, const char *path, size_t length) {
  return length > run.folder_length + 1 && length < kPathBytes &&
         std::memcmp(path, run.folder, run.folder_length) == 0 && path[run.folder_length] == '\\';
}

static int TakeRecord(void *context, char kind, const char *path, size_t length) {
  RecordedRun &run = *static_cast<RecordedRun *>(context);
  if (kind == kRecordAbandon) {
    run.committed = false;
    return 0;
  }
  if (!IsInsideFolder(run, path, length)) {
    run.refused = true;
    return -1;
  }
  int result = 0;
  switch (kind) {
  case kRecordDirectory:
    result = JournalAppend("D", path, kJournalCreated);
    break;
  case kRecordCreated:
    result = JournalAppend("F", path, kJournalCreated);
    break;
  case kRecordReplacing:
    result = JournalAppend("F", path, kJournalReplaced);
    break;
  case kRecordListTemp:
    CopyText(run.temporary, sizeof run.temporary, path);
    break;
  case kRecordCommit:
    CopyText(run.temporary, sizeof run.temporary, path);
    run.committed = true;
    break;
  }
  if (result != 0)
    run.refused = true;
  return result;
}

static bool Exists(const char *path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// Completes the run: its new list goes in place if it is not there yet, then
// its backups go. The first path still in the way, if any, goes to blocker.
static bool CompleteRun(const RecordedRun &run, PassProgress *progress, char (&blocker)[kPathBytes]) {
  char list[kPathBytes];
  if (run.temporary[0] != '\0' && Exists(run.temporary)) {
    if (JoinPath(list, sizeof list, DataDirectory, kUninstallFileName) != 0 ||
        PutListInPlace(run.temporary, list) != 0) {
      CopyText(blocker, sizeof blocker, list);
      return false;
    }
  }
  if (FinishJournal(progress) == 0)
    return true;
  // Name the first backup still there.
  for (int32_t i = 0; i < JournalCount(); ++i) {
    const JournalRecord &record = JournalAt(i);
    char backup[kPathBytes];
    if (record.action == kJournalReplaced && CopyText(backup, sizeof backup, record.path) == 0 &&
        BackupPathOf(backup) != nullptr && Exists(backup)) {
      CopyText(blocker, sizeof blocker, backup);
      break;
    }
  }
  return false;
}

// Undoes the run; its list's temporary file goes too.
static bool UndoRun(const RecordedRun &run, PassProgress *progress, char (&blocker)[kPathBytes]) {
  RollbackReport report;
  RollBackJournal(progress, kRollbackRecord, &report);
  if (run.temporary[0] != '\0' && !DeleteFileA(run.temporary) && Exists(run.temporary))
    ++report.failures;
  if (report.failures == 0)
    return true;
  // A backup that could not be put back names its file; otherwise the file in the way.
  for (int32_t i = JournalCount() - 1; i >= 0 && report.first_unrestored[0] == '\0'; --i) {
    const JournalRecord &record = JournalAt(i);
    char backup[kPathBytes];
    if (record.action == kJournalReplaced && CopyText(backup, sizeof backup, record.path) == 0 &&
        BackupPathOf(backup) != nullptr && Exists(backup))
      CopyText(report.first_unrestored, sizeof report.first_unrestored, record.path);
  }
  CopyText(blocker, sizeof blocker, report.first_unrestored[0] ? report.first_unrestored : run.temporary);
  return false;
}

static void Tell(const char *message_template, const char *path, UINT icon) {
  char message[kDetailBytes];
  FormatText(message, sizeof message, message_template, path);
  ShowMessage(nullptr, message, icon);
}

RecoveryOutcome RecoverInterruptedRun(HINSTANCE instance) {
  char record_path[kPathBytes];
  if (BuildRunRecordPath(record_path, sizeof record_path, DataDirectory) != 0 || !Exists(record_path))
    return kNothingToRecover;
  ResetJournal();
  RecordedRun run = {};
  run.folder = DataDirectory;
  run.folder_length = std::strlen(DataDirectory);
  if (ReadRunRecordFile(record_path, TakeRecord, &run) != 0 || run.refused) {
    ResetJournal();
    Tell(kUnreadableTemplate, record_path, MB_ICONWARNING);
    return kRecoveryFailed;
  }
  HWND wait_window = OpenStatusWindow(instance, IDD_ROLLBACK_WAIT);
  WindowProgress progress(wait_window);
  char blocker[kPathBytes] = "";
  bool settled = run.committed ? CompleteRun(run, &progress, blocker) : UndoRun(run, &progress, blocker);
  if (wait_window)
    DestroyWindow(wait_window);
  ResetJournal();
  if (!settled) {
    Tell(run.committed ? kNotCompletedTemplate : kNotUndoneTemplate, blocker, MB_ICONWARNING);
    return kRecoveryFailed;
  }
  // The record's removal on the disk before the box: a cut after it must
  // not settle the run again.
  if (DeleteFileA(record_path))
    FlushFolder(DataDirectory);
  ShowMessage(nullptr, run.committed ? kCompletedMessage : kRolledBackMessage, MB_ICONINFORMATION);
  return run.committed ? kRecoveredCompleted : kRecoveredRolledBack;
}
