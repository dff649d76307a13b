// Whether a file or folder is at a path. A look that fails is not an absent
// file: only "not found" says absent; any other failure (a failing disk, a
// denied access, a share Wine can't look into) leaves it unknown, and each
// caller treats unknown as the safe one of the two answers for what it does
// next. Win32 only.
#pragma once
#include <windows.h>

enum FileLook { kFileAbsent, kFilePresent, kFileUnknown };

// The errors that say there is no such file: not the file, not a folder on
// its way, or a name no file can have.
inline bool MeansNotFound(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME;
}

inline FileLook LookForFile(const char *path) {
  if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
    return kFilePresent;
  return MeansNotFound(GetLastError()) ? kFileAbsent : kFileUnknown;
}

// Present, or unknown: what a caller that must not take a failed look for
// an absent file asks.
inline bool MayExist(const char *path) { return LookForFile(path) != kFileAbsent; }

// Whether a folder is at path (a link to one included).
inline bool PathIsFolder(const char *path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
