// The run: confirm, load the uninstall list, copy, then finish or roll back
// and report once. Every box here has no owner.
#include "driver/run.h"

#include "archive/extract.h"
#include "common/text.h"
#include "driver/state.h"
#include "journal/journal_passes.h"
#include "journal/uninstall_list.h"
#include "ui/confirm_dialog.h"
#include "ui/progress_dialog.h"
#include "ui/resources/resource_ids.h"
#include "ui/window_helpers.h"

static const char kListUnreadableMessage[] = "uinst.datが読み込めませんでした。\nインストールを終了します。";
static const char kFinishedMessage[] = "インストールが終了しました。";
static const char kCancelledMessage[] = "インストールを中止しました。";
static const char kFailedMessage[] = "インストール中にエラーが発生しました。";
static const char kFailedWritingTemplate[] = "インストール中にエラーが発生しました。(書き込み中)\r\n%s";
static const char kRollbackIncompleteMessage[] =
    "一部のファイルを元に戻せませんでした。\n元のファイルは名前の末尾に「_old」を付けて残っています。";

void RunInstall(HWND progress_window) {
  ShowCopyingStatus(progress_window);
  ExtractAll(progress_window);
  if (InstallStatus == kStatusRunning)
    SaveUninstallList(progress_window);
}

// The failure message composed from ErrorKind and ErrorDetail. A detail too
// long for the box is shown cut rather than not at all.
static void ComposeFailureMessage(char *message, size_t capacity) {
  if (ErrorKind == kErrorKindWriting)
    FormatText(message, capacity, kFailedWritingTemplate, ErrorDetail);
  else
    CopyText(message, capacity, kFailedMessage);
}

// Runs a journal pass under its wait window; returns what the pass returns.
static int32_t RunUnderWaitWindow(HINSTANCE instance, int template_id, int32_t (*pass)(HWND)) {
  HWND wait_window = OpenStatusWindow(instance, template_id);
  int32_t result = pass(wait_window);
  if (wait_window)
    DestroyWindow(wait_window);
  return result;
}

// Undoes the run. A file that could not be restored (another program held
// it) must not go unmentioned: its old content waits under its backup name.
static void RollBack(HINSTANCE instance) {
  if (RunUnderWaitWindow(instance, IDD_ROLLBACK_WAIT, RollBackJournal) > 0)
    ShowMessage(nullptr, kRollbackIncompleteMessage, MB_ICONWARNING);
}

static void SettleOutcome(HINSTANCE instance) {
  if (InstallStatus == kStatusRunning) {
    RunUnderWaitWindow(instance, IDD_FINISH_WAIT, FinishJournal);
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
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_CONFIRM), nullptr, ConfirmDialogProc, 0);
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
