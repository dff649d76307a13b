// The run after start-up: confirmation, the uninstall list, the copy under
// the progress window, and the outcome with its one report.
#pragma once
#include <windows.h>

// Copies the package and, when that succeeded, saves the uninstall list,
// while the progress window is up (nullptr: no window).
void RunInstall(HWND progress_window);

// Finishes or rolls back under the wait window, by InstallStatus, and
// reports the outcome once.
void SettleOutcome(HINSTANCE instance);

// The second half of the program: from the confirmation dialog to the final
// message. Returns 0 on every path.
int RunUpdate(HINSTANCE instance);
