// The destination confirmation dialog (template IDD_CONFIRM): shows where
// the update goes and the space it needs, and lets the run start only on a
// drive that can take it.
#pragma once
#include <windows.h>

#include <cstdint>

// Free MiB available to the caller on the path's drive. Measures only when
// the drive letter differs from the last one measured; a path that does not
// start at a drive's root gets the last figure.
uint32_t QueryFreeMiB(const char *path);

// Replaces a too-long TARGETDIR with the note, refreshes SpaceText for a
// package of package_kib KiB, and enables or disables the start button of the
// dialog when one is given.
void UpdateDestinationDisplay(HWND dialog, int64_t package_kib);

// The checks of the start button, each refusal told in a box owned by the
// dialog. 1 to accept, 0 to refuse.
int ValidateDestination(HWND dialog, int64_t package_kib);

// The dialog's procedure. The creation parameter (lparam of WM_INITDIALOG)
// points to the package size in KiB, which must outlive the dialog.
INT_PTR CALLBACK ConfirmDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Shows the dialog modally for a package of package_kib KiB; OkPressed is 1
// when the player started the run.
void RunConfirmDialog(HINSTANCE instance, int64_t package_kib);
