// The backup name of a replaced file: its path with "_old" appended.
#pragma once
#include <cstddef>

inline constexpr char kBackupSuffix[] = "_old";
enum { kBackupSuffixBytes = sizeof kBackupSuffix - 1, kMaxBackedUpPathBytes = 255 };

// Appends "_old" in place when the result fits 260 bytes with its
// terminator; returns buffer, or nullptr leaving the text unchanged.
char *AppendBackupSuffix(char *buffer);
