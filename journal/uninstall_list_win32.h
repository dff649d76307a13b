// The game's uninstall list uinst.dat in TARGETDIR: read before anything is
// changed, and rewritten with the paths the run created after a successful
// extraction pass.
#pragma once
#include <windows.h>

#include <cstdint>

#include "common/file_names.h" // kUninstallFileName
#include "common/progress.h"
#include "journal/uninstall_codec.h" // kUninstallFileName

// Reads uinst.dat from TARGETDIR into the list. 0, or -1 when it can't be
// read.
int LoadUninstallList();

// Adds the entries of the file at path to the list. 0, or -1 when the file
// can't be opened or read in full, or no memory is left.
int ReadUninstallFile(const char *path);

// The file's size in bytes from its status; 0 when there is no status, -1
// when the size does not fit.
int32_t FileSizeOf(const char *path);

// Appends kind (one letter) followed by path unless an equal entry is
// listed. 0, or -1 when no memory is left for it.
int AddUninstallEntry(const char *kind, const char *path);

// Writes the list to a file open for writing. 0, or -1 after a short write.
int WriteUninstallFile(HANDLE file);

// Adds the paths the run created (journal records with action 2) and
// rewrites uinst.dat; pumps the progress once between opening and
// writing. The old file is replaced only by complete, flushed content. A
// failure goes to the shared failure state; the result is always 0.
int SaveUninstallList(PassProgress *progress);

// Puts the complete, flushed list in temporary in the place of the list at
// path: replaced in one step, or, when another program holds the list open
// against that, rewritten in place from temporary, which is then removed.
// Before an in-place rewrite the old list is copied beside it and the copy
// named in the run record; a rewrite cut short is undone from the copy. The
// list keeps its hidden and system attributes. 0, or -1 when neither worked
// (temporary is kept then).
int PutListInPlace(const char *temporary, const char *path);

// Puts back the old list from the copy of an in-place rewrite that failed
// and could not be undone at once. 0 when there is none left, -1 when it is
// still not back (the copy stays, named in the run record).
int RestorePreviousList();

// Deletes the copy of the old list the save kept until the run settled. 0,
// or -1 when it is still there (named in the run record).
int DeleteKeptList();

// The next start's way of the same: the list at path from the copy at
// previous, which is then removed. 0, or -1.
int PutPreviousListBack(const char *previous, const char *path);

int32_t UninstallEntryCount();
// Entry i (0 <= i < UninstallEntryCount()): kind letter and path.
const char *UninstallEntryAt(int32_t i);

// The list as at program start: empty, no previous list to put back, the
// write buffer cleared. The program never needs it; it is part of
// ResetProgramState (driver/program_state_win32.h).
void ResetUninstallListState();
