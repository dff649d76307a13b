// The run: confirm, load the uninstall list, copy, then finish or roll back
// and report once. Every box here has no owner.
#include "driver/run_win32.h"

#include "archive/extract_win32.h"
#include "archive/loader_win32.h"
#include "common/failure_messages.h"
#include "common/file_names.h"
#include "common/run_state.h"
#include "common/text.h"
#include "journal/journal.h"
#include "journal/journal_passes_win32.h"
#include "journal/run_record_win32.h"
#include "journal/uninstall_list_win32.h"
#include "ui/confirm_dialog_win32.h"
#include "ui/progress_dialog_win32.h"
#include "ui/resources/resource_ids.h"
#include "ui/window_helpers_win32.h"

static const char kFinishedMessage[] = "インストールが終了しました。";
static const char kCancelledMessage[] = "インストールを中止しました。";
static const char kRollbackIncompleteMessage[] = "一部のファイルを元に戻せませんでした。";
static const char kBackupsLeftLine[] = "\n元のファイルは名前の末尾に「" BACKUP_SUFFIX "」を付けて残っています。";
static const char kCreatedLeftLine[] = "\n\"%s\"を削除できませんでした。";
static const char kBackupGoneLine[] = "\n\"%s\"の元のファイルが見つかりませんでした。";

// Starts the run record before anything changes: a run that can't keep one
// could not be settled after a kill, so it does not start.
static bool StartRunRecord() {
  if (OpenRunRecord(TARGETDIR) == 0)
    return true;
  char path[kPathBytes];
  if (BuildRunRecordPath(path, sizeof path, TARGETDIR) != 0)
    CopyText(path, sizeof path, TARGETDIR);
  ReportWriteFailure(kCannotCreateTemplate, path);
  return false;
}

void RunInstall(HWND progress_window) {
  ShowCopyingStatus(progress_window);
  if (!StartRunRecord())
    return;
  WindowProgress progress(progress_window);
  ExtractAll(&progress);
  if (InstallStatus == kStatusRunning)
    SaveUninstallList(&progress);
}

// The failure message composed from ErrorKind and ErrorDetail. A detail too
// long for the box is shown cut rather than not at all.
static void ComposeFailureMessage(char *message, size_t capacity) {
  if (ErrorKind == kErrorKindWriting)
    FormatText(message, capacity, "%s%s", kFailedWritingPrefix, ErrorDetail);
  else
    CopyText(message, capacity, kFailedMessage);
}

// The warning of a rollback that could not restore everything: where the
// originals are, when backups were left, and the first other file that is
// not as it was.
static void ComposeRollbackWarning(const RollbackReport &report, char *message, size_t capacity) {
  CopyText(message, capacity, kRollbackIncompleteMessage);
  if (report.backups_left > 0)
    AppendText(message, capacity, kBackupsLeftLine);
  if (report.first_unrestored[0] != '\0') {
    char line[kDetailBytes];
    FormatText(line, sizeof line, report.first_is_created ? kCreatedLeftLine : kBackupGoneLine,
               report.first_unrestored);
    AppendText(message, capacity, line);
  }
}

// Undoes the run under its wait window. A file that could not be restored
// (another program held it) must not go unmentioned, and the run record
// stays so that the next start tries again.
static void RollBack(HINSTANCE instance) {
  RollbackReport report;
  RunUnderWaitWindow(instance, IDD_ROLLBACK_WAIT, [&](PassProgress *progress) {
    RollBackJournal(progress, kRollbackRun, &report);
    if (RestorePreviousList() != 0 || DeleteKeptList() != 0)
      ++report.failures;
    return report.failures;
  });
  // What could not be undone stays in the record, and only that: the next
  // start must not remove again what the player has put back since.
  if (report.failures > 0)
    RecordWhatIsLeft();
  CloseRunRecord(report.failures == 0);
  if (report.failures > 0) {
    char message[kDetailBytes];
    ComposeRollbackWarning(report, message, sizeof message);
    ShowMessage(nullptr, message, MB_ICONWARNING);
  }
}

// Deletes the backups under the finishing wait window. One that can't be
// deleted stays named in the run record, for the next start to delete.
static void Finish(HINSTANCE instance) {
  int32_t left = RunUnderWaitWindow(instance, IDD_FINISH_WAIT, FinishJournal);
  if (DeleteKeptList() != 0)
    ++left;
  CloseRunRecord(left == 0);
}

void SettleOutcome(HINSTANCE instance) {
  if (InstallStatus == kStatusRunning) {
    Finish(instance);
    ShowMessage(nullptr, kFinishedMessage, MB_ICONINFORMATION);
  } else if (InstallStatus == kStatusCancelled) {
    RollBack(instance);
    ShowMessage(nullptr, kCancelledMessage, MB_ICONINFORMATION);
  } else {
    char message[kDetailBytes];
    ComposeFailureMessage(message, sizeof message);
    ShowMessage(nullptr, message, MB_ICONWARNING);
    RollBack(instance);
  }
}

int RunUpdate(HINSTANCE instance) {
  UpdateDestinationDisplay(nullptr);
  RunConfirmDialog(instance);
  if (OkPressed == 0)
    return 0;
  if (LoadUninstallList() != 0) {
    ShowMessage(nullptr, kListUnreadableMessage, MB_ICONINFORMATION);
    return 0;
  }
  ErrorDetail[0] = '\0';
  HWND progress_window = OpenProgressWindow(instance);
  ErrorKind = kErrorKindGeneral;
  RunInstall(progress_window);
  if (progress_window)
    DestroyWindow(progress_window);
  SettleOutcome(instance);
  return 0;
}
