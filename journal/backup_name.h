// The backup name of a replaced file: its path with "_old" appended.
#pragma once
#include <cstddef>

#include "common/file_names.h"
#include "common/limits.h"

enum { kBackupSuffixBytes = sizeof BACKUP_SUFFIX - 1, kMaxBackedUpPathBytes = kPathBytes - 1 - kBackupSuffixBytes };

// Appends "_old" in place when the result fits kPathBytes with its
// terminator; returns buffer, or nullptr leaving the text unchanged.
char *AppendBackupSuffix(char *buffer);
