// The progress window (template IDD_PROGRESS) and the two wait windows
// (IDD_ROLLBACK_WAIT, IDD_FINISH_WAIT): modeless windows that stand on screen
// while a long pass runs and pass a confirmed cancel on through InstallStatus.
#pragma once
#include <windows.h>

// 1 while the cancel question is open, and for good once it was answered yes.
extern int CancelQuestionOpen;

// Registers the progress bar class; needed before IDD_PROGRESS becomes a window.
void RegisterProgressClass();

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Creates the window of the template (no owner, ProgressDialogProc) and shows
// it. nullptr when it can't be made.
HWND OpenStatusWindow(HINSTANCE instance, int template_id);

// The progress window: registers the bar's class, then as OpenStatusWindow.
HWND OpenProgressWindow(HINSTANCE instance);

// Puts "ファイルをコピーしています。" in the progress window's status line and
// lets the window paint.
void ShowCopyingStatus(HWND progress_window);
