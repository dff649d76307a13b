// Recovery of an interrupted run from its run record. The record is read
// into the journal, and the same passes as at the end of a run settle it.
// The record lies in a folder the player (and any program the player runs)
// can write, and this program runs elevated: it obeys only a record sealed
// with this machine's key whose run has not settled, acts only on paths
// inside the data directory that cross no link, and asks before it acts.
#include "driver/recovery_win32.h"

#include <cstring>

#include "archive/run_rules.h"
#include "common/confined_win32.h"
#include "common/cp932.h"
#include "common/file_names.h"
#include "common/file_look_win32.h"
#include "common/name_fold.h"
#include "common/run_state.h"
#include "common/text.h"
#include "journal/backup_name.h"
#include "journal/durability_win32.h"
#include "journal/journal.h"
#include "journal/journal_passes_win32.h"
#include "journal/record_seal_win32.h"
#include "journal/run_record_win32.h"
#include "journal/uninstall_list_win32.h"
#include "ui/progress_dialog_win32.h"
#include "ui/resources/resource_ids.h"
#include "ui/window_helpers_win32.h"

static const char kRolledBackMessage[] = "前回中断されたインストールを元に戻しました。";
static const char kCompletedMessage[] = "前回中断されたインストールを完了しました。";
// The line that ends each text of a path another program may hold.
#define CLOSE_AND_RETRY_LINE "\n\"%s\"を使用しているプログラムを終了してから、もう一度実行してください。"
static const char kUnreadableTemplate[] =
    "前回中断されたインストールの記録\"%s\"を読み込めませんでした。" CLOSE_AND_RETRY_LINE;
static const char kRefusedTemplate[] =
    "前回中断されたインストールの記録\"%s\"は、このコンピューターでこのプログラムが書いたものでないか、"
    "ゲームのフォルダーの外やリンクを指しているため、無視しました。\nファイルは変更していません。"
    "名前の末尾に「" BACKUP_SUFFIX "」が付いたファイルが残っている場合は、手作業で元の名前に戻してください。";
static const char kCutTemplate[] =
    "前回中断されたインストールの記録\"%s\"は途中で切れているため、無視しました。\nファイルは変更していません。"
    "名前の末尾に「" BACKUP_SUFFIX "」が付いたファイルが残っている場合は、手作業で元の名前に戻してください。";
static const char kNotPlainTemplate[] =
    "前回中断されたインストールの記録の場所\"%s\"に、フォルダーまたはリンクがあります。\n"
    "これを削除するか名前を変えてから、もう一度実行してください。";
static const char kKeptLine[] = "\n\"%s\"はこのインストールが作ったものと確かめられないため、残しました。";
static const char kUndoQuestionTemplate[] =
    "前回中断されたインストールを元に戻します。\n対象フォルダー: %s\nよろしいですか？";
static const char kCompleteQuestionTemplate[] =
    "前回中断されたインストールを完了します。\n対象フォルダー: %s\nよろしいですか？";
static const char kNotUndoneTemplate[] = "前回中断されたインストールを元に戻せませんでした。" CLOSE_AND_RETRY_LINE;
static const char kNotCompletedTemplate[] = "前回中断されたインストールを完了できませんでした。" CLOSE_AND_RETRY_LINE;

// What the record says beyond the journal: the list's temporary file, the
// copy of the list taken before an in-place rewrite, and whether the run
// passed its commit point.
struct RecordedRun {
  char temporary[kPathBytes];
  char previous[kPathBytes];
  bool previous_whole; // named twice: the copy was complete
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
  case kRecordCreating:
    result = JournalAppend("F", full, kJournalMaybeCreated);
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
    run.previous_whole = std::strcmp(run.previous, full) == 0;
    CopyText(run.previous, sizeof run.previous, full);
    break;
  }
  if (result != 0)
    run.refused = true;
  return result;
}

// True when a folder or file on the way from the data directory to path
// (path itself included) is a link: it would take the action somewhere else.
static bool CrossesLink(const char *path) { return LookAtPlace(path) == kPlaceLinked; }

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
// A look at the list's temporary file that fails is no proof that the list
// is in place: the run is not completed then.
static bool CompleteRun(const RecordedRun &run, PassProgress *progress, char (&blocker)[kPathBytes]) {
  FileLook temporary = run.temporary[0] != '\0' ? LookForFile(run.temporary) : kFileAbsent;
  if (temporary == kFileUnknown) {
    CopyText(blocker, sizeof blocker, run.temporary);
    return false;
  }
  char list[kPathBytes];
  if (temporary == kFilePresent && (JoinPath(list, sizeof list, DataDirectory, kUninstallFileName) != 0 ||
                                    PutListInPlace(run.temporary, list) != 0)) {
    CopyText(blocker, sizeof blocker, list);
    return false;
  }
  if (run.previous[0] != '\0')
    DeleteAtPlace(run.previous);
  if (FinishJournal(progress) == 0)
    return true;
  // Name the first backup still there.
  for (int32_t i = 0; i < JournalCount(); ++i) {
    const JournalRecord &record = JournalAt(i);
    char backup[kPathBytes];
    if (record.action == kJournalReplaced && BuildBackupPath(backup, sizeof backup, record.path) == 0 &&
        MayExist(backup)) {
      CopyText(blocker, sizeof blocker, backup);
      break;
    }
  }
  return false;
}

// Undoes the run; its list's temporary file goes too, and the old list comes
// back from its copy when an in-place rewrite was cut short.
static bool UndoRun(const RecordedRun &run, PassProgress *progress, char (&blocker)[kPathBytes],
                    char (&kept)[kPathBytes]) {
  RollbackReport report;
  RollBackJournal(progress, kRollbackRecord, &report);
  if (run.temporary[0] != '\0' && !DeleteAtPlace(run.temporary))
    ++report.failures;
  // A copy of the list cut short by a cut is no list: it goes, the list
  // itself was not touched yet.
  char list[kPathBytes] = "";
  if (run.previous[0] != '\0' && !run.previous_whole && !DeleteAtPlace(run.previous))
    ++report.failures;
  if (run.previous[0] != '\0' && run.previous_whole && MayExist(run.previous) &&
      (JoinPath(list, sizeof list, DataDirectory, kUninstallFileName) != 0 ||
       PutPreviousListBack(run.previous, list) != 0)) {
    ++report.failures;
    if (report.first_unrestored[0] == '\0')
      CopyText(report.first_unrestored, sizeof report.first_unrestored, list);
  }
  if (report.first_kept[0] != '\0')
    CopyText(kept, sizeof kept, report.first_kept);
  if (report.failures == 0)
    return true;
  // A backup that could not be put back names its file; otherwise the file in the way.
  for (int32_t i = JournalCount() - 1; i >= 0 && report.first_unrestored[0] == '\0'; --i) {
    const JournalRecord &record = JournalAt(i);
    char backup[kPathBytes];
    if (record.action == kJournalReplaced && BuildBackupPath(backup, sizeof backup, record.path) == 0 &&
        MayExist(backup))
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
static bool Settle(HINSTANCE instance, const RecordedRun &run, char (&blocker)[kPathBytes], char (&kept)[kPathBytes]) {
  bool settled = RunUnderWaitWindow(instance, IDD_ROLLBACK_WAIT, [&](PassProgress *progress) {
    return run.committed ? CompleteRun(run, progress, blocker) : UndoRun(run, progress, blocker, kept);
  });
  InstallStatus = kStatusRunning;
  CancelQuestionOpen = 0;
  return settled;
}

// The journal holds the recorded run while recovery looks at it, and is
// emptied whatever comes of it.
struct JournalEmptiedOnExit {
  ~JournalEmptiedOnExit() { ResetJournal(); }
};

// Settles the run the record names, once the player agrees, and removes the
// record; what could not be undone stays in it.
static RecoveryOutcome SettleRecordedRun(HINSTANCE instance, const RecordedRun &run, const RunRecordState &state,
                                         const char *record_path, bool anything) {
  // Acting only once the player has seen where.
  if (anything && Tell(run.committed ? kCompleteQuestionTemplate : kUndoQuestionTemplate, DataDirectory,
                       MB_YESNO | MB_ICONQUESTION) != IDYES)
    return kRecoveryFailed;
  char blocker[kPathBytes] = "", kept[kPathBytes] = "";
  if (anything && !Settle(instance, run, blocker, kept)) {
    // Only what is left stays in the record.
    if (!run.committed && ReopenRunRecord(DataDirectory, state, run.temporary, run.previous, run.previous_whole) == 0) {
      RecordWhatIsLeft();
      CloseRunRecord(false);
    }
    Tell(run.committed ? kNotCompletedTemplate : kNotUndoneTemplate, blocker, MB_ICONWARNING);
    return kRecoveryFailed;
  }
  // What the settling did goes to the disk before its run is noted as
  // settled: a cut before then must find the record still in force.
  FlushJournalFolders(DataDirectory);
  NoteRunStanding(state.run_id, kRunSettled);
  RemoveRunRecordFile(record_path);
  // The record's removal on the disk before the box: a cut after it must
  // not settle the run again.
  FlushFolder(DataDirectory);
  char message[kDetailBytes];
  CopyText(message, sizeof message, run.committed ? kCompletedMessage : kRolledBackMessage);
  if (kept[0] != '\0') {
    char line[kDetailBytes];
    FormatText(line, sizeof line, kKeptLine, kept);
    AppendText(message, sizeof message, line);
  }
  ShowMessage(nullptr, message, MB_ICONINFORMATION);
  return run.committed ? kRecoveredCompleted : kRecoveredRolledBack;
}

// Whether a name ending in the backup suffix lies in folder or below it
// (links not followed): what a run leaves until it has settled.
static bool AnyBackupBelow(const char *folder, int depth) {
  char pattern[kPathBytes];
  if (depth > 32 || JoinPath(pattern, sizeof pattern, folder, "*") != 0)
    return false;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE)
    return false;
  bool any = false;
  do {
    const char *name = found.cFileName;
    size_t length = std::strlen(name);
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
      continue;
    if (length > kBackupSuffixBytes && std::strcmp(name + length - kBackupSuffixBytes, kBackupSuffix) == 0) {
      any = true;
    } else if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
               !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      char inner[kPathBytes];
      any = JoinPath(inner, sizeof inner, folder, name) == 0 && AnyBackupBelow(inner, depth + 1);
    }
  } while (!any && FindNextFileA(search, &found));
  FindClose(search);
  return any;
}

RecoveryOutcome RecoverInterruptedRun(HINSTANCE instance) {
  char record_path[kPathBytes];
  if (BuildRunRecordPath(record_path, sizeof record_path, DataDirectory) != 0)
    return kNothingToRecover;
  ResetJournal();
  JournalEmptiedOnExit emptied;
  RecordedRun run = {};
  RunRecordState state;
  RecordReading reading = ReadRunRecordFile(record_path, TakeRecord, &run, &state);
  if (reading == kRecordAbsent)
    return kNothingToRecover;
  if (reading == kRecordUnreadable || reading == kRecordNotPlain) {
    Tell(reading == kRecordNotPlain ? kNotPlainTemplate : kUnreadableTemplate, record_path, MB_ICONWARNING);
    return kRecoveryFailed;
  }
  RunStanding standing = state.has_header ? RunStandingOf(state.run_id) : kRunNotNoted;
  if (reading == kRecordNotOurs || run.refused || (standing != kRunSettled && AnyPathCrossesLink(run))) {
    // Nothing is acted on; the next run replaces the file.
    Tell(kRefusedTemplate, record_path, MB_ICONWARNING);
    return kNothingToRecover;
  }
  if (standing == kRunSettled) {
    // A record that outlived its settled run is never obeyed again.
    RemoveRunRecordFile(record_path);
    return kNothingToRecover;
  }
  if (!state.has_header || !state.plan_whole) {
    // The plan is on the disk before the run's first change: a record
    // without it whole was cut while the plan was written, and the run
    // changed nothing; unless backups lie in the folder, when it was cut
    // afterwards and can't be taken at its word.
    if (AnyBackupBelow(DataDirectory, 0)) {
      Tell(kCutTemplate, record_path, MB_ICONWARNING);
      return kNothingToRecover;
    }
    RemoveRunRecordFile(record_path);
    return kNothingToRecover;
  }
  bool anything = JournalCount() > 0 || run.temporary[0] != '\0' || run.previous[0] != '\0';
  if (!anything) {
    // A run that changed nothing needs no word.
    RemoveRunRecordFile(record_path);
    return kNothingToRecover;
  }
  if (standing == kRunAbandoned)
    run.committed = false;
  return SettleRecordedRun(instance, run, state, record_path, anything);
}
