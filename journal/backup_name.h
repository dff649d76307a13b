// The backup name of a replaced file: its path with "_old" appended.
#pragma once
#include <cstddef>

#include "common/limits.h"

enum { kBackupSuffixBytes = 4, kMaxBackedUpPathBytes = kPathBytes - 1 - kBackupSuffixBytes };

// Appends "_old" in place when the result fits kPathBytes with its
// terminator; returns buffer, or nullptr leaving the text unchanged.
char *AppendBackupSuffix(char *buffer);
