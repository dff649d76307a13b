// Rollback and finishing over the install journal.
#include "journal/journal_passes_win32.h"

#include <windows.h>

#include <cstring>

#include "common/confined_win32.h"
#include "common/file_look_win32.h"
#include "common/text.h"
#include "journal/journal.h"

static bool IsFileRecord(const JournalRecord &record, int32_t action) {
  return record.kind[0] == 'F' && record.action == action;
}

// Deleting a file that is not there leaves things as wanted; one that could
// not be looked at may still be there, and one behind a link is not ours.
static bool DeleteIfPresent(const char *path) { return DeleteAtPlace(path); }

static void NoteUnrestored(RollbackReport *report, const char *path, bool created) {
  if (report->first_unrestored[0] != '\0')
    return;
  CopyText(report->first_unrestored, sizeof report->first_unrestored, path);
  report->first_is_created = created;
}

// Puts the backup back over the new file. With the backup gone the new file
// stays: the player keeps a file, if not the old one. A backup that could
// not be looked at is not taken for gone: both files stay, the undo failed.
static void RestoreReplacedFile(const char *path, RollbackMode mode, RollbackReport *report) {
  char backup[kPathBytes];
  if (BuildBackupPath(backup, sizeof backup, path) != 0) {
    ++report->failures; // the extraction pass never journals such a path
    NoteUnrestored(report, path, false);
    return;
  }
  PlaceLook look = LookAtPlace(backup);
  if (look == kPlaceUnknown) {
    ++report->failures;
    ++report->backups_left;
    return;
  }
  if (look == kPlaceLinked) {
    ++report->failures;
    NoteUnrestored(report, path, false);
    return;
  }
  if (look == kPlaceAbsent) {
    if (mode == kRollbackRun) {
      ++report->failures;
      NoteUnrestored(report, path, false);
    }
    return;
  }
  if (!DeleteIfPresent(path))
    ++report->failures;
  if (!MoveAtPlace(backup, path)) {
    ++report->failures;
    ++report->backups_left;
  }
}

// Whether a record after i says the run found the file there and replaced it.
static bool ReplacedLater(int32_t i) {
  for (int32_t later = i + 1; later < JournalCount(); ++later) {
    if (IsFileRecord(JournalAt(later), kJournalReplaced) && std::strcmp(JournalAt(later).path, JournalAt(i).path) == 0)
      return true;
  }
  return false;
}

// A file the run was about to create, with no record that it did: an empty
// one is the run's create cut short and goes; one with bytes is the player's
// (it appeared during the run or after it) and stays.
static void SettleMaybeCreated(int32_t i, RollbackReport *report) {
  const char *path = JournalAt(i).path;
  WIN32_FILE_ATTRIBUTE_DATA status;
  if (LookAtPlace(path) != kPlacePlain || !GetFileAttributesExA(path, GetFileExInfoStandard, &status) ||
      (status.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return;
  if (status.nFileSizeHigh == 0 && status.nFileSizeLow == 0) {
    if (!DeleteIfPresent(path)) {
      ++report->failures;
      NoteUnrestored(report, path, true);
    }
  } else if (report->first_kept[0] == '\0' && !ReplacedLater(i)) {
    CopyText(report->first_kept, sizeof report->first_kept, path);
  }
}

int32_t RollBackJournal(PassProgress *progress, RollbackMode mode, RollbackReport *report) {
  *report = RollbackReport{};
  for (int32_t i = JournalCount() - 1; i >= 0; --i) {
    PumpProgress(progress);
    const JournalRecord &record = JournalAt(i);
    if (IsFileRecord(record, kJournalReplaced)) {
      RestoreReplacedFile(record.path, mode, report);
    } else if (IsFileRecord(record, kJournalCreated) && !DeleteIfPresent(record.path)) {
      ++report->failures;
      NoteUnrestored(report, record.path, true);
    } else if (IsFileRecord(record, kJournalMaybeCreated)) {
      SettleMaybeCreated(i, report);
    } else if (record.kind[0] == 'D' && mode == kRollbackRecord) {
      // Settling leaves the folder exactly as before the run, so that the
      // next run creates (and lists) the folder again. Only an empty one goes.
      RemoveFolderAtPlace(record.path);
    }
  }
  return report->failures;
}

// Windows refuses to delete a read-only file, though it let it be renamed to
// its backup name.
static bool DeleteBackup(const char *backup) {
  if (DeleteIfPresent(backup))
    return true;
  DWORD attributes = GetFileAttributesA(backup);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY) ||
      LookAtPlace(backup) != kPlacePlain)
    return false;
  return SetFileAttributesA(backup, attributes & ~FILE_ATTRIBUTE_READONLY) && DeleteFileA(backup);
}

bool JournalHasReplacedFiles() {
  for (int32_t i = 0; i < JournalCount(); ++i) {
    if (IsFileRecord(JournalAt(i), kJournalReplaced))
      return true;
  }
  return false;
}

int32_t FinishJournal(PassProgress *progress) {
  int32_t left = 0;
  for (int32_t i = 0; i < JournalCount(); ++i) {
    PumpProgress(progress);
    const JournalRecord &record = JournalAt(i);
    // Only replaced files have a backup of this run; a file named like the
    // backup of a created file was there before and is not ours to delete.
    if (!IsFileRecord(record, kJournalReplaced))
      continue;
    char backup[kPathBytes];
    if (BuildBackupPath(backup, sizeof backup, record.path) != 0)
      continue;
    if (!DeleteBackup(backup))
      ++left;
  }
  return left;
}
