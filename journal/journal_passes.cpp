// Rollback and finishing over the install journal.
#include "journal/journal_passes.h"

#include "common/text.h"
#include "driver/state.h"
#include "journal/journal.h"
#include "ui/window_helpers.h"

static bool IsFileRecord(const JournalRecord &record, int32_t action) {
  return record.kind[0] == 'F' && record.action == action;
}

// Deletes the new file and renames the backup back, trying the rename even
// when the delete failed. Returns the number of failed operations.
static int32_t RestoreReplacedFile(const char *path) {
  char current[kPathBytes];
  char backup[kPathBytes];
  if (CopyText(current, sizeof current, path) != 0 || CopyText(backup, sizeof backup, path) != 0 ||
      BackupPathOf(backup) == nullptr)
    return 2; // the extraction pass never journals such a path
  int32_t failures = 0;
  if (!DeleteFileA(current))
    ++failures;
  if (!MoveFileA(backup, current))
    ++failures;
  return failures;
}

int32_t RollBackJournal(HWND window) {
  int32_t failures = 0;
  for (int32_t i = 0; i < JournalCount(); ++i) {
    PumpMessages(window);
    const JournalRecord &record = JournalAt(i);
    if (IsFileRecord(record, kJournalReplaced))
      failures += RestoreReplacedFile(record.path);
    else if (IsFileRecord(record, kJournalCreated) && !DeleteFileA(record.path))
      ++failures;
  }
  return failures;
}

// Asks the system to put the new file's bytes on the disk before its backup
// goes: after a power cut the old content must not be gone while the new
// one is still only in memory. Best effort; the backup is deleted anyway,
// as a backup left behind would block the next update of the file.
static void FlushToDisk(const char *path) {
  HANDLE file =
      CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return;
  FlushFileBuffers(file);
  CloseHandle(file);
}

int32_t FinishJournal(HWND window) {
  for (int32_t i = 0; i < JournalCount(); ++i) {
    PumpMessages(window);
    const JournalRecord &record = JournalAt(i);
    // Only replaced files have a backup of this run; a file named like the
    // backup of a created file was there before and is not ours to delete.
    if (!IsFileRecord(record, kJournalReplaced))
      continue;
    char backup[kPathBytes];
    if (CopyText(backup, sizeof backup, record.path) != 0 || BackupPathOf(backup) == nullptr)
      continue;
    FlushToDisk(record.path);
    DeleteFileA(backup);
  }
  return 0;
}
