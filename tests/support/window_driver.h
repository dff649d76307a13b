// Finds the windows of another process (or of a thread of this one), reads
// them and answers them, as a player would: message boxes, dialogs, buttons.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// A top-level dialog-class window (#32770) whose caption is caption, owned by
// process pid (0: any process), holding a control with the given ID (0: any).
// nullptr when none appears within timeout_ms.
HWND WaitForDialogWithControl(DWORD pid, const std::string &caption, int control_id, DWORD timeout_ms);
// Every visible top-level #32770 window of the process.
std::vector<HWND> DialogsOf(DWORD pid);

enum BoxIcon { kIconNone, kIconInformation, kIconWarning, kIconQuestion, kIconError, kIconOther };

struct MessageBoxView {
  std::string caption;
  std::string text;
  BoxIcon icon = kIconNone;
  HWND owner = nullptr;
  std::vector<int> buttons; // IDOK, IDYES, … that the box has
};

MessageBoxView ReadMessageBox(HWND box);
std::string WindowText(HWND window);
std::string ControlText(HWND dialog, int id);
bool IsControlEnabled(HWND dialog, int id);

// Presses a button the way a click does (BN_CLICKED to its dialog).
void PressButton(HWND dialog, int id);
// Sends Escape to the focused control of the dialog.
void PressEscape(HWND dialog);
// The close box of the title bar.
void PressCloseBox(HWND dialog);

// True when the window is gone (destroyed) within timeout_ms.
bool WaitForWindowGone(HWND window, DWORD timeout_ms);

// Saves an image of the window as a 24-bit BMP file.
bool SaveWindowImage(HWND window, const std::string &bmp_path);
