// The extraction pass: copies every entry of UPDATE.DAT into TARGETDIR,
// creating an entry's missing directory, moving replaced files to their
// backups and journalling every change so that the run can be undone.
#pragma once
#include <windows.h>

#include <cstdint>

#include "archive/package_format.h"

enum { kCopyChunkBytes = 1048576 };

// KiB copied so far in this process (each chunk rounded up to whole KiB).
extern int32_t ProgressKiB;

// Copies every entry; the window is the progress window whose control
// IDC_PROGRESS_BAR shows the progress and whose messages are pumped after
// every chunk. 0 when every entry was handled or the pass stopped for a
// recorded reason (InstallStatus non-zero); -1 when the package can't be
// opened (InstallStatus 2, ErrorKind and ErrorDetail untouched).
int ExtractAll(HWND window);

// Makes sure the entry's directory exists, creating it when its parent
// exists. 0, or -1 after a recorded failure.
int EnsureEntryDirectories(HWND window, const ArchiveEntry &entry);

// Writes one entry's file from the open package. 0 on success or when the
// copy stopped because InstallStatus became non-zero; -1 after a recorded
// failure.
int ExtractEntry(HWND window, const ArchiveEntry &entry, HANDLE package);

// Counts a chunk of bytes written and moves the progress bar.
void AdvanceProgress(HWND window, uint32_t bytes);
