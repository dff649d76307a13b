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

// Replaces a too-long TARGETDIR with the note, refreshes SpaceText for the
// loaded package (ArchiveSizeKiB), and enables or disables the start button of the
// dialog when one is given.
void UpdateDestinationDisplay(HWND dialog);

// The checks of the start button, each refusal told in a box owned by the
// dialog. 1 to accept, 0 to refuse.
int ValidateDestination(HWND dialog);

// The dialog's procedure; its creation parameter is not used.
INT_PTR CALLBACK ConfirmDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// Shows the dialog modally; OkPressed is 1 when the player started the run.
void RunConfirmDialog(HINSTANCE instance);
