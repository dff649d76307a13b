// Backup names, kept portable so that the length rule is tested natively.
#include "journal/backup_name.h"

#include <cstring>

char *AppendBackupSuffix(char *buffer) {
  size_t length = std::strlen(buffer);
  if (length > kMaxBackedUpPathBytes)
    return nullptr;
  std::memcpy(buffer + length, kBackupSuffix, sizeof kBackupSuffix);
  return buffer;
}
