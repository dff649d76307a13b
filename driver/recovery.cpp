// Recovery of an interrupted run from its run record. The record is read
// into the journal, and the same passes as at the end of a run settle it.
// The record lies in a folder the player (and any program the player runs)
// can write, and this program runs elevated: it obeys only a record sealed
// with this machine's key whose run has not settled, acts only on paths
// inside the data directory that cross no link, and asks before it acts.
#include "driver/recovery.h"

#include <cstring>

#include "archive/run_rules.h"
#include "common/cp932.h"
#include "common/run_state.h"
#include "common/text.h"
#include "journal/durability.h"
#include "journal/journal.h"
#include "journal/journal_passes.h"
#include "journal/record_seal.h"
#include "journal/run_record.h"
#include "journal/uninstall_list.h"
#include "ui/progress_dialog.h"
#include "ui/resources/resource_ids.h"
#include "ui/window_helpers.h"

static const char kRolledBackMessage[] = "前回中断されたインストールを元に戻しました。";
static const char kCompletedMessage[] = "前回中断されたインストールを完了しました。";
static const char kUnreadableTemplate[] =
    "前回中断されたインストールの記録\"%s\"を読み込めませんでした。\n\"%s\"を使用しているプログラム"
    "を終了してから、もう一度実行してください。";
static const char kRefusedTemplate[] =
    "前回中断されたインストールの記録\"%s\"は、このコンピューターでこのプログラムが書いたものでないか、"
    "ゲームのフォルダーの外やリンクを指しているため、無視しました。\nファイルは変更していません。"
    "名前の末尾に「_old」が付いたファイルが残っている場合は、手作業で元の名前に戻してください。";
static const char kUndoQuestionTemplate[] =
    "前回中断されたインストールを元に戻します。\n対象フォルダー: %s\nよろしいですか？";
static const char kCompleteQuestionTemplate[] =
    "前回中断されたインストールを完了します。\n対象フォルダー: %s\nよろしいですか？";
static const char kNotUndoneTemplate[] =
    "前回中断されたインストールを元に戻せませんでした。\n\"%s\"を使用しているプログラム"
    "を終了してから、もう一度実行してください。";
static const char kNotCompletedTemplate[] =
    "前回中断されたインストールを完了できませんでした。\n\"%s\"を使用しているプロ"
    "グラムを終了してから、もう一度実行してください。";

// What the record says beyond the journal: the list's temporary file, the
// copy of the list taken before an in-place rewrite, and whether the run
// passed its commit point.
struct RecordedRun {
  char temporary[kPathBytes];
  char previous[kPathBytes];
  bool committed;
  bool refused; // a path that is not of the run's own kind, or no memory
};

static int TakeRecord(void *context, char kind, const char *path, size_t length) {
  RecordedRun &run = *static_cast<RecordedRun *>(context);
  if (kind == kRecordAbandon) {
    run.committed = false;
    return 0;
  }
  // Only a path of the kind the run writes, inside the data directory: no
  // drive, UNC or \\?\ form, no "." or "..", nothing a device.
  char full[kPathBytes];
  if (!IsRecordedPathAccepted(kind, path, length) || JoinPath(full, sizeof full, DataDirectory, path) != 0) {
    run.refused = true;
    return -1;
  }
  int result = 0;
  switch (kind) {
  case kRecordDirectory:
    result = JournalAppend("D", full, kJournalCreated);
    break;
  case kRecordCreated:
    result = JournalAppend("F", full, kJournalCreated);
    break;
  case kRecordReplacing:
    result = JournalAppend("F", full, kJournalReplaced);
    break;
  case kRecordListTemp:
    CopyText(run.temporary, sizeof run.temporary, full);
    break;
  case kRecordCommit:
    CopyText(run.temporary, sizeof run.temporary, full);
    run.committed = true;
    break;
  case kRecordPreviousList:
    CopyText(run.previous, sizeof run.previous, full);
    break;
  }
  if (result != 0)
    run.refused = true;
  return result;
}

static bool Exists(const char *path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// True when a folder or file on the way from the data directory to path
// (path itself included) is a reparse point: a symbolic link, a junction or
// a mount point would take the action somewhere else.
static bool CrossesLink(const char *path) {
  size_t start = std::strlen(DataDirectory);
  char prefix[kPathBytes];
  for (size_t i = start + 1;; ++i) {
    unsigned char byte = static_cast<unsigned char>(path[i]);
    if (byte == '\\' || byte == '\0') {
      std::memcpy(prefix, path, i);
      prefix[i] = '\0';
      DWORD attributes = GetFileAttributesA(prefix);
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return true;
      if (byte == '\0')
        return false;
    } else if (IsLeadByte932(byte) && path[i + 1] != '\0') {
      ++i; // a trail byte 0x5C is no separator
    }
  }
}

static bool AnyPathCrossesLink(const RecordedRun &run) {
  for (int32_t i = 0; i < JournalCount(); ++i) {
    if (CrossesLink(JournalAt(i).path))
      return true;
  }
  return (run.temporary[0] != '\0' && CrossesLink(run.temporary)) ||
         (run.previous[0] != '\0' && CrossesLink(run.previous));
}

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
  if (run.previous[0] != '\0')
    DeleteFileA(run.previous);
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

// Undoes the run; its list's temporary file goes too, and the old list comes
// back from its copy when an in-place rewrite was cut short.
static bool UndoRun(const RecordedRun &run, PassProgress *progress, char (&blocker)[kPathBytes]) {
  RollbackReport report;
  RollBackJournal(progress, kRollbackRecord, &report);
  if (run.temporary[0] != '\0' && !DeleteFileA(run.temporary) && Exists(run.temporary))
    ++report.failures;
  char list[kPathBytes] = "";
  if (run.previous[0] != '\0' && Exists(run.previous) &&
      (JoinPath(list, sizeof list, DataDirectory, kUninstallFileName) != 0 ||
       PutPreviousListBack(run.previous, list) != 0)) {
    ++report.failures;
    if (report.first_unrestored[0] == '\0')
      CopyText(report.first_unrestored, sizeof report.first_unrestored, list);
  }
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

static int Tell(const char *message_template, const char *path, UINT flags) {
  char message[kDetailBytes];
  FormatText(message, sizeof message, message_template, path, path);
  return ShowMessage(nullptr, message, flags);
}

// Settles the run the record names under the rollback wait window. The
// window's cancel question can't stop a settling; its answer must not reach
// the install that follows either.
static bool Settle(HINSTANCE instance, const RecordedRun &run, char (&blocker)[kPathBytes]) {
  HWND wait_window = OpenStatusWindow(instance, IDD_ROLLBACK_WAIT);
  WindowProgress progress(wait_window);
  bool settled = run.committed ? CompleteRun(run, &progress, blocker) : UndoRun(run, &progress, blocker);
  if (wait_window)
    DestroyWindow(wait_window);
  InstallStatus = kStatusRunning;
  CancelQuestionOpen = 0;
  return settled;
}

RecoveryOutcome RecoverInterruptedRun(HINSTANCE instance) {
  char record_path[kPathBytes];
  if (BuildRunRecordPath(record_path, sizeof record_path, DataDirectory) != 0)
    return kNothingToRecover;
  ResetJournal();
  RecordedRun run = {};
  RunRecordState state;
  RecordReading reading = ReadRunRecordFile(record_path, TakeRecord, &run, &state);
  if (reading == kRecordAbsent)
    return kNothingToRecover;
  if (reading == kRecordUnreadable) {
    ResetJournal();
    Tell(kUnreadableTemplate, record_path, MB_ICONWARNING);
    return kRecoveryFailed;
  }
  RunStanding standing = state.has_header ? RunStandingOf(state.run_id) : kRunNotNoted;
  if (reading == kRecordNotOurs || run.refused || (standing != kRunSettled && AnyPathCrossesLink(run))) {
    // Nothing is acted on; the next run replaces the file.
    ResetJournal();
    Tell(kRefusedTemplate, record_path, MB_ICONWARNING);
    return kNothingToRecover;
  }
  bool anything = JournalCount() > 0 || run.temporary[0] != '\0' || run.previous[0] != '\0';
  if (standing == kRunSettled || (state.has_header && !anything)) {
    // A record that outlived its settled run is never obeyed again; one
    // whose run changed nothing needs no word.
    ResetJournal();
    RemoveRunRecordFile(record_path);
    return kNothingToRecover;
  }
  if (standing == kRunAbandoned)
    run.committed = false;
  // Acting only once the player has seen where.
  if (anything && Tell(run.committed ? kCompleteQuestionTemplate : kUndoQuestionTemplate, DataDirectory,
                       MB_YESNO | MB_ICONQUESTION) != IDYES) {
    ResetJournal();
    return kRecoveryFailed;
  }
  char blocker[kPathBytes] = "";
  bool settled = !anything || Settle(instance, run, blocker);
  if (!settled) {
    // Only what is left stays in the record.
    if (!run.committed && ReopenRunRecord(DataDirectory, state, run.temporary, run.previous) == 0) {
      RecordWhatIsLeft();
      CloseRunRecord(false);
    }
    ResetJournal();
    Tell(run.committed ? kNotCompletedTemplate : kNotUndoneTemplate, blocker, MB_ICONWARNING);
    return kRecoveryFailed;
  }
  ResetJournal();
  if (state.has_header)
    NoteRunStanding(state.run_id, kRunSettled);
  RemoveRunRecordFile(record_path);
  // The record's removal on the disk before the box: a cut after it must
  // not settle the run again.
  FlushFolder(DataDirectory);
  ShowMessage(nullptr, run.committed ? kCompletedMessage : kRolledBackMessage, MB_ICONINFORMATION);
  return run.committed ? kRecoveredCompleted : kRecoveredRolledBack;
}
