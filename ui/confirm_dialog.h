// The destination confirmation dialog (template IDD_CONFIRM): shows where
// the update goes and the space it needs, and lets the run start only on a
// drive that can take it.
#pragma once
#include <windows.h>

#include <cstdint>

// "HDD要:…M HDD空き:…M", kept from the last time TARGETDIR was a drive path.
extern char SpaceText[1024];

// The drive letter of the last free-space measurement and its figure. The
// letter starts as '@', which is no drive, so that the first query measures.
extern char CachedDriveLetter;
extern uint32_t CachedFreeMiB;

// Free MiB available to the caller on the path's drive. Measures only when
// the drive letter differs from the last one measured; a path that does not
// start at a drive's root gets the last figure.
uint32_t QueryFreeMiB(const char *path);

// Replaces a too-long TARGETDIR with the note, refreshes SpaceText, and
// enables or disables the start button of the dialog when one is given.
void UpdateDestinationDisplay(HWND dialog);

// The checks of the start button, each refusal told in a box owned by the
// dialog. 1 to accept, 0 to refuse.
int ValidateDestination(HWND dialog);

INT_PTR CALLBACK ConfirmDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
