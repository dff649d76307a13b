// The install journal: a growing array of records kept for the whole run.
#include "journal/journal.h"

#include <cstdlib>
#include <cstring>

#include "common/text.h"
#include "journal/backup_name.h"

enum { kInitialJournalRecords = 20000 };

static JournalRecord *InstallJournal = nullptr;
static int32_t sInstallJournalCount = 0;
static int32_t sInstallJournalCapacity = 0;
static int32_t sInstallJournalLimit = -1;

static bool EnsureJournalRoom() {
  if (sInstallJournalCount < sInstallJournalCapacity)
    return true;
  int32_t capacity = sInstallJournalCapacity == 0 ? kInitialJournalRecords : sInstallJournalCapacity;
  if (sInstallJournalCapacity > 0) {
    if (capacity > INT32_MAX / 2)
      return false;
    capacity *= 2;
  }
  void *grown = std::realloc(InstallJournal, static_cast<size_t>(capacity) * sizeof(JournalRecord));
  if (grown == nullptr)
    return false;
  InstallJournal = static_cast<JournalRecord *>(grown);
  sInstallJournalCapacity = capacity;
  return true;
}

int JournalAppend(const char *kind, const char *path, int32_t action) {
  if (sInstallJournalLimit >= 0 && sInstallJournalCount >= sInstallJournalLimit)
    return -1;
  if (!EnsureJournalRoom())
    return -1;
  size_t length = std::strlen(path);
  char *copy = static_cast<char *>(std::malloc(length + 1));
  if (copy == nullptr)
    return -1;
  std::memcpy(copy, path, length + 1);
  JournalRecord &record = InstallJournal[sInstallJournalCount];
  record.kind[0] = kind[0];
  record.kind[1] = '\0';
  record.path = copy;
  record.action = action;
  ++sInstallJournalCount;
  return 0;
}

int32_t JournalCount() { return sInstallJournalCount; }

const JournalRecord &JournalAt(int32_t i) { return InstallJournal[i]; }

void ResetJournal() {
  for (int32_t i = 0; i < sInstallJournalCount; ++i)
    std::free(InstallJournal[i].path);
  sInstallJournalCount = 0;
}

void SetJournalRecordLimit(int32_t limit) { sInstallJournalLimit = limit; }

void ResetJournalState() {
  ResetJournal();
  std::free(InstallJournal);
  InstallJournal = nullptr;
  sInstallJournalCapacity = 0;
  sInstallJournalLimit = -1;
}

char *BackupPathOf(char *buffer) { return AppendBackupSuffix(buffer); }

int BuildBackupPath(char *buffer, size_t size, const char *path) {
  if (std::strlen(path) + kBackupSuffixBytes >= size || CopyText(buffer, size, path) != 0)
    return -1;
  return BackupPathOf(buffer) != nullptr ? 0 : -1;
}
