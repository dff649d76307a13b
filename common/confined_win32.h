// Acting only inside the data directory. The program runs elevated in a
// folder the player's programs can write, so a folder or file below the data
// directory may be a link (a symbolic link, a junction, a mount point) to a
// place outside it, made before the run or during it. Every change below the
// data directory first looks, through a handle, at where its path really
// leads: the handle's final path must be the data directory's own followed by
// the path's names, and the object must be no reparse point itself. Under
// Wine a link to a file shows no reparse bit, and a delete or rename through
// it acts on its target: the final path is what tells. The data directory
// itself is the player's choice, shown before the run, and may lie anywhere.
// Win32 only.
#pragma once
#include <windows.h>

enum PlaceLook {
  kPlaceAbsent,  // not there, and the folders on its way are the ones its name says
  kPlacePlain,   // there, at the place its name says, no link
  kPlaceLinked,  // a link on its way or itself: never acted on
  kPlaceUnknown, // could not be looked at
};

// Where path, a path below the data directory (TARGETDIR, or DataDirectory
// before the destinations are derived), leads. A path below neither (a
// tool's, a test's) is judged in its own folder: its last name alone.
PlaceLook LookAtPlace(const char *path);

// Whether the open handle is the file or folder at path itself.
bool IsHandleAtPlace(HANDLE handle, const char *path);
// The same, and it has no second name (hard link) that a write in place
// would reach too.
bool IsHandleAtPlaceAlone(HANDLE handle, const char *path);

// A new file at path (CREATE_NEW), open for writing with DELETE access: one
// that landed elsewhere (a folder on its way swapped for a link) is deleted
// at once and INVALID_HANDLE_VALUE comes back with ERROR_ACCESS_DENIED. A
// name already taken fails with ERROR_FILE_EXISTS, as CreateFileA does.
HANDLE CreateFileAtPlace(const char *path, DWORD access, DWORD share);
// An existing file at path, opened as CreateFileA(OPEN_EXISTING) would, when
// it is the plain file its name says; INVALID_HANDLE_VALUE with
// ERROR_ACCESS_DENIED when it is not.
HANDLE OpenFileAtPlace(const char *path, DWORD access, DWORD share);

// The calls that change a name, each made only once the look says the names
// it touches are at their place. false, as the call's own failure, otherwise.
bool CreateFolderAtPlace(const char *path);
bool RemoveFolderAtPlace(const char *path);
// Deletes the file at path; true also when it is not there.
bool DeleteAtPlace(const char *path);
// Renames from to to (MoveFileA: never over an existing file), or with
// replace over one (MoveFileExA with MOVEFILE_REPLACE_EXISTING).
bool MoveAtPlace(const char *from, const char *to, bool replace = false);

// Where the system offers it, a junction or link made by a non-administrator
// is never followed by this process at all (it closes the time between a
// look and the act). Elsewhere (Wine, older Windows) the looks do the work.
void TrustNoRedirection();

// Forgets the data directory's final path, as at program start. Part of
// ResetProgramState (driver/program_state_win32.h).
void ResetConfinementState();
