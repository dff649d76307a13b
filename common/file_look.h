// Whether a file or folder is at a path. A look that fails is not an absent
// file: only "not found" says absent; any other failure (a failing disk, a
// denied access) leaves it unknown, and each caller treats unknown as the
// safe one of the two answers for what it does next. Win32 only.
#pragma once
#include <windows.h>

enum FileLook { kFileAbsent, kFilePresent, kFileUnknown };

inline FileLook LookForFile(const char *path) {
  if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
    return kFilePresent;
  DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kFileAbsent : kFileUnknown;
}

// Present, or unknown: what a caller that must not take a failed look for
// an absent file asks.
inline bool MayExist(const char *path) { return LookForFile(path) != kFileAbsent; }
