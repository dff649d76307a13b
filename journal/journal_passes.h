// The two passes that end a run: undoing the journal after a cancellation or
// a failure, and deleting the backups after success.
#pragma once
#include <windows.h>

#include <cstdint>

// Undoes the file changes, oldest record first: created files are deleted,
// replaced files get their old content back from the backup. Directories stay.
// Pumps the window's messages (if any) before each record. Returns the number
// of deletes and renames that failed.
int32_t RollBackJournal(HWND window);

// Deletes the backups of the files this run replaced. Pumps the window's
// messages (if any) before each record. Returns 0.
int32_t FinishJournal(HWND window);
