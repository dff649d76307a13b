// The progress window (template IDD_PROGRESS) and the two wait windows
// (IDD_ROLLBACK_WAIT, IDD_FINISH_WAIT): modeless windows that stand on screen
// while a long pass runs and pass a confirmed cancel on through InstallStatus.
#pragma once
#include <windows.h>

#include "common/progress.h"

// Registers the progress bar class; needed before IDD_PROGRESS becomes a window.
void RegisterProgressClass();

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Creates the window of the template (no owner, ProgressDialogProc) and shows
// it. nullptr when it can't be made.
HWND OpenStatusWindow(HINSTANCE instance, int template_id);

// The progress window: registers the bar's class, then as OpenStatusWindow.
HWND OpenProgressWindow(HINSTANCE instance);

// The passes' progress over one of these windows: the bar is its control
// IDC_PROGRESS_BAR (a wait window has none), and its messages are pumped.
// The bar is looked up once: under Wine each lookup asks the server for the
// window's children, and the copy moves the bar after every chunk.
class WindowProgress : public PassProgress {
public:
  explicit WindowProgress(HWND window);
  void ShowPercent(int32_t percent) override;
  void Pump() override;

private:
  HWND window_;
  HWND bar_;
};

// Runs pass(&progress) under the wait window of the template (a window that
// can't be made leaves the pass without one), then destroys the window;
// returns what the pass returned.
template <typename Pass> auto RunUnderWaitWindow(HINSTANCE instance, int template_id, Pass pass) {
  HWND wait_window = OpenStatusWindow(instance, template_id);
  WindowProgress progress(wait_window);
  auto result = pass(&progress);
  if (wait_window)
    DestroyWindow(wait_window);
  return result;
}

// Puts "ファイルをコピーしています。" in the progress window's status line and
// lets the window paint.
void ShowCopyingStatus(HWND progress_window);
