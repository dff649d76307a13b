// The procedure shared by the progress and wait windows: title, centring and
// the cancel question.
#include "ui/progress_dialog_win32.h"

#include <commctrl.h>

#include "common/run_state.h"
#include "ui/resources/resource_ids.h"
#include "ui/window_helpers_win32.h"

static const char kCancelQuestion[] = "インストールを中止しますか？";
static const char kCopyingStatus[] = "ファイルをコピーしています。";

void RegisterProgressClass() {
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_PROGRESS_CLASS;
  InitCommonControlsEx(&controls);
}

// The question has no owner, so the window stays enabled while it is open and
// a second cancel reaches this procedure; the flag keeps it to one question.
static BOOL AskToCancel() {
  if (CancelQuestionOpen)
    return FALSE;
  CancelQuestionOpen = 1;
  if (ShowMessage(nullptr, kCancelQuestion, MB_YESNO) != IDYES) {
    CancelQuestionOpen = 0;
    return FALSE;
  }
  // A failure already recorded keeps its report: the run rolls back either way.
  if (InstallStatus != kStatusFailed)
    InstallStatus = kStatusCancelled;
  return TRUE;
}

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) {
    BuildWindowTitle();
    SetWindowTextA(window, WindowTitle);
    CenterOnOwner(window);
    return TRUE;
  }
  // The window never closes itself: the driver destroys it once its pass returns.
  if (message == WM_COMMAND && wparam == IDCANCEL)
    return AskToCancel();
  return FALSE;
}

HWND OpenStatusWindow(HINSTANCE instance, int template_id) {
  HWND window = CreateDialogParamA(instance, MAKEINTRESOURCEA(template_id), nullptr, ProgressDialogProc, 0);
  if (window != nullptr)
    ShowWindow(window, SW_SHOW);
  return window;
}

HWND OpenProgressWindow(HINSTANCE instance) {
  RegisterProgressClass();
  return OpenStatusWindow(instance, IDD_PROGRESS);
}

WindowProgress::WindowProgress(HWND window)
    : window_(window), bar_(window != nullptr ? GetDlgItem(window, IDC_PROGRESS_BAR) : nullptr) {}

void WindowProgress::ShowPercent(int32_t percent) {
  if (bar_ != nullptr)
    SendMessageA(bar_, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void WindowProgress::Pump() { PumpMessages(window_); }

void ShowCopyingStatus(HWND progress_window) {
  SetDlgItemTextA(progress_window, IDC_PROGRESS_STATUS, kCopyingStatus);
  PumpMessages(progress_window);
}
