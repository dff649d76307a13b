// Window helpers: title, centring, foreground, message pump, message box.
#include "ui/window_helpers_win32.h"

#include "common/run_state.h"
#include "common/text.h"
#include "ui/layout_math.h"

static const char kProductIdentifier[] = "lumerant_qen";
static const char kCaption[] = "インストール";

void BuildWindowTitle() {
  CopyText(WindowTitle, sizeof WindowTitle, kProductIdentifier);
  AppendText(WindowTitle, sizeof WindowTitle, "　");
  AppendText(WindowTitle, sizeof WindowTitle, kCaption);
}

void PumpMessages(HWND window) {
  if (window == nullptr)
    return;
  MSG message;
  while (PeekMessageA(&message, window, 0, 0, PM_REMOVE)) {
    if (!IsDialogMessageA(window, &message)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
}

void CenterOnOwner(HWND window) {
  RECT own;
  GetWindowRect(window, &own);
  HWND reference = GetWindow(window, GW_OWNER);
  if (reference == nullptr)
    reference = GetDesktopWindow();
  RECT area;
  GetWindowRect(reference, &area);
  int x = CenteredOrigin(area.left, area.right - area.left, own.right - own.left);
  int y = CenteredOrigin(area.top, area.bottom - area.top, own.bottom - own.top);
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void BringToForeground(HWND window) {
  DWORD foreground_thread = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
  DWORD own_thread = GetCurrentThreadId();
  AttachThreadInput(own_thread, foreground_thread, TRUE);
  SetForegroundWindow(window);
  AttachThreadInput(own_thread, foreground_thread, FALSE);
}

int ShowMessage(HWND owner, const char *text, UINT flags) { return MessageBoxA(owner, text, kCaption, flags); }
