// What the window tests share beyond tests/support: the program's own
// templates, a thread brought to rest, and the centring of a window.
#pragma once
#include <windows.h>

#include "program_windows.h"
#include "test_support.h"

// update.exe loaded as data: the dialogs are made from its templates.
inline HMODULE ProgramResources() {
  static HMODULE module = LoadLibraryExA(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  return module;
}

// Waits until the thread of the window is idle in a message loop again, so
// that whatever it did synchronously after the last answer has happened.
inline void Settle(HWND window) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
}

// The rectangle a centred window must have on the desktop (no owner).
inline bool IsCentredOnDesktop(HWND window) {
  RECT own, desk;
  GetWindowRect(window, &own);
  GetWindowRect(GetDesktopWindow(), &desk);
  int width = own.right - own.left, height = own.bottom - own.top;
  return own.left == desk.left + ((desk.right - desk.left) - width) / 2 &&
         own.top == desk.top + ((desk.bottom - desk.top) - height) / 2;
}
