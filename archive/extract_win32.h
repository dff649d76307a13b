// The extraction pass: copies every entry of UPDATE.DAT into TARGETDIR,
// creating an entry's missing directory, moving replaced files to their
// backups and journalling every change so that the run can be undone.
#pragma once
#include <windows.h>

#include <cstdint>

#include "archive/package_format.h"
#include "common/progress.h"

enum { kCopyChunkBytes = 1048576 };

// Copies every entry; the progress is told the percentage and pumped after
// every chunk (nullptr: none is shown). 0 when every entry was handled or the pass stopped for a
// recorded reason (InstallStatus non-zero); -1 when the package can't be
// opened (InstallStatus 2, ErrorKind and ErrorDetail untouched).
int ExtractAll(PassProgress *progress);

// Makes sure the entry's directory exists, creating it when its parent
// exists. 0, or -1 after a recorded failure.
int EnsureEntryDirectories(const ArchiveEntry &entry);

// Writes one entry's file from the open package. With expected_hash, the
// bytes copied must hash to it (the package's data check), and with
// signed_sha256 the bytes written must have that SHA-256 (the publisher's):
// a damaged or swapped entry fails as a copy failure. 0 on success or when
// the copy stopped because InstallStatus became non-zero; -1 after a
// recorded failure.
int ExtractEntry(PassProgress *progress, const ArchiveEntry &entry, HANDLE package,
                 const uint64_t *expected_hash = nullptr, const unsigned char *signed_sha256 = nullptr);

// Counts a chunk of bytes written in ProgressKiB and shows the percentage.
void AdvanceProgress(PassProgress *progress, uint32_t bytes);

// Clears the copy buffer, as at program start. Part of ResetProgramState
// (driver/program_state_win32.h).
void ResetExtractionState();
