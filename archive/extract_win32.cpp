// The extraction pass over the package entries. Every change on disk is
// journalled as soon as it exists, and every failure is recorded in the
// shared failure state for the driver to report once.
#include "archive/extract_win32.h"

#include <shlwapi.h>

#include <cstring>

#include "archive/hash.h"
#include "archive/loader_win32.h"
#include "archive/progress_math.h"
#include "archive/run_plan_win32.h"
#include "archive/run_rules.h"
#include "archive/sha256.h"
#include "common/confined_win32.h"
#include "common/cp932.h"
#include "common/failure_messages.h"
#include "common/file_look_win32.h"
#include "common/run_state.h"
#include "common/text.h"
#include "journal/durability_win32.h"
#include "journal/journal.h"
#include "journal/run_record_win32.h"

// One buffer for every chunk of every entry.
static unsigned char sCopyBuffer[kCopyChunkBytes];

// Joins TARGETDIR and the entry's name; a path that does not fit fails the
// entry, naming the whole path.
static int BuildEntryPath(char (&path)[kPathBytes], const ArchiveEntry &entry) {
  char whole[kWholeEntryPathBytes];
  if (JoinEntryPath(path, whole, TARGETDIR, entry.name) == 0)
    return 0;
  ReportWriteFailure(kCreateFailedTemplate, whole);
  return -1;
}

int EnsureEntryDirectories(const ArchiveEntry &entry) {
  char path[kPathBytes];
  if (BuildEntryPath(path, entry) != 0)
    return -1;
  for (;;) {
    // Code page 932 aware: the trail byte of a character such as ソ is 0x5C.
    long separator = FindLastSeparator(path);
    if (separator < 0) {
      ReportWriteFailure(kCreateFailedTemplate, path);
      return -1;
    }
    path[separator] = '\0';
    // A folder there that is a link is refused by the plan, and again by the
    // file's own create or move, which look through it.
    if (PathIsDirectoryA(path))
      return 0;
    // Named in the run record before it exists: a kill just after the create
    // must not leave a folder the next start can't take away (it would then
    // stay out of the uninstall list). Settling only removes an empty folder,
    // so a name recorded for a folder never made is harmless.
    if (RecordChange(kRecordDirectory, path) != 0 || !CreateFolderAtPlace(path)) {
      ReportWriteFailure(kCreateFailedTemplate, path);
      return -1;
    }
    if (JournalAppend("D", path, kJournalCreated) != 0) {
      // Nothing unjournalled may stay behind; the directory is still empty.
      RemoveFolderAtPlace(path);
      ReportWriteFailure(kCreateFailedTemplate, path);
      return -1;
    }
  }
}

static bool SeekToEntryData(HANDLE package, const ArchiveEntry &entry) {
  LONG high = static_cast<LONG>(entry.offset_high);
  DWORD low = SetFilePointer(package, static_cast<LONG>(entry.offset_low), &high, FILE_BEGIN);
  return low != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

// A new file, only where its name says: one that a link took elsewhere is
// deleted at once.
static HANDLE CreateNewFile(const char *path) { return CreateFileAtPlace(path, GENERIC_WRITE, FILE_SHARE_READ); }

// Moves the existing file to its backup name, when JudgeBackup allows it,
// and creates the new one. The run record names the file before it moves,
// so that an interrupted run can be undone. When the new file can't be
// created the old one is moved back, and if even that fails it is
// journalled, so that the rollback still puts it back.
static HANDLE ReplaceExistingFile(const char *path, const char *backup) {
  // A file the plan named found its backup name free; only the others need
  // a look, which in a large folder costs a scan of it under Wine.
  bool planned = TakeNextPlannedChange(kRecordReplacing, path);
  bool taken = !planned && backup != nullptr && LookForFile(backup) == kFilePresent;
  if (JudgeBackup(PathIsDirectoryA(path), backup != nullptr, taken) != kBackupAllowed ||
      (!planned && RecordChange(kRecordReplacing, path) != 0) || !MoveAtPlace(path, backup)) {
    ReportWriteFailure(kBackupFailedTemplate, path);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE file = CreateNewFile(path);
  if (file == INVALID_HANDLE_VALUE) {
    if (!MoveAtPlace(backup, path))
      JournalAppend("F", path, kJournalReplaced);
    ReportWriteFailure(kBackupFailedTemplate, path);
  }
  return file;
}

// Journals the change just made; a created file is also recorded as created
// (a replaced one was named before it moved). Only that record lets the next
// start remove the file as the run's: the plan's word that a file was about
// to be created says nothing of a file that stood there when the run came.
static int JournalFileChange(const char *path, int32_t action) {
  if (JournalAppend("F", path, action) != 0)
    return -1;
  return action == kJournalCreated ? AppendRunRecord(kRecordCreated, path) : 0;
}

// The hashes the copied bytes must match: the data check's, and the
// publisher's signed one when the program carries its key.
struct ExpectedHashes {
  const uint64_t *data_check;
  const unsigned char *signed_sha256;
};

// Copies the entry's bytes in chunks, moving the bar and pumping messages
// after each; stops early once InstallStatus is no longer running. Hashes
// the bytes on the way when the package carries their hash: the signed hash
// over exactly the bytes written.
static int CopyEntryData(PassProgress *progress, const ArchiveEntry &entry, HANDLE package, HANDLE file,
                         const char *path, const ExpectedHashes &expected) {
  DataHasher hasher;
  if (expected.data_check != nullptr)
    InitDataHasher(&hasher);
  Sha256 sha;
  if (expected.signed_sha256 != nullptr)
    InitSha256(&sha);
  uint32_t done = 0;
  uint32_t chunk = kCopyChunkBytes;
  while (done < entry.size) {
    if (entry.size - done < chunk)
      chunk = entry.size - done;
    DWORD got = 0;
    if (!ReadFile(package, sCopyBuffer, chunk, &got, nullptr) || got != chunk) {
      ReportWriteFailure(kCopyFailedTemplate, path);
      return -1;
    }
    if (expected.data_check != nullptr)
      UpdateDataHasher(&hasher, sCopyBuffer, got);
    DWORD written = 0;
    if (!WriteFile(file, sCopyBuffer, got, &written, nullptr) || written != got) {
      ReportWriteFailure(kCopyFailedTemplate, path);
      return -1;
    }
    if (expected.signed_sha256 != nullptr)
      UpdateSha256(&sha, sCopyBuffer, written);
    done += written;
    AdvanceProgress(progress, written);
    PumpProgress(progress);
    if (InstallStatus != kStatusRunning)
      return 0;
  }
  unsigned char digest[kSha256DigestBytes];
  if (expected.signed_sha256 != nullptr)
    FinishSha256(&sha, digest);
  if ((expected.data_check != nullptr && DataHasherDigest(&hasher) != *expected.data_check) ||
      (expected.signed_sha256 != nullptr && std::memcmp(digest, expected.signed_sha256, sizeof digest) != 0)) {
    ReportWriteFailure(kCopyFailedTemplate, path);
    return -1;
  }
  return 0;
}

int ExtractEntry(PassProgress *progress, const ArchiveEntry &entry, HANDLE package, const uint64_t *expected_hash,
                 const unsigned char *signed_sha256) {
  char path[kPathBytes];
  if (BuildEntryPath(path, entry) != 0)
    return -1;
  if (!SeekToEntryData(package, entry)) {
    ReportWriteFailure(kCopyFailedTemplate, path);
    return -1;
  }
  char backup[kPathBytes];
  const char *backup_name = BuildBackupPath(backup, sizeof backup, path) == 0 ? backup : nullptr;
  int32_t action = kJournalCreated;
  // A file that is not there is named in the run record before it is made:
  // a kill right after the create must not leave a file the next start does
  // not know of. One that is there is the player's: it is replaced, never
  // removed as created. The plan named those it found missing; only the
  // others need a look, which in a large folder costs a scan of it under Wine.
  if (!TakeNextPlannedChange(kRecordCreating, path) && LookForFile(path) != kFilePresent &&
      RecordChange(kRecordCreating, path) != 0) {
    ReportWriteFailure(kCreateFailedTemplate, path);
    return -1;
  }
  HANDLE file = CreateNewFile(path);
  if (file == INVALID_HANDLE_VALUE) {
    file = ReplaceExistingFile(path, backup_name);
    if (file == INVALID_HANDLE_VALUE)
      return -1;
    action = kJournalReplaced;
  }
  if (JournalFileChange(path, action) != 0) {
    // The rollback could not see this change: undo it here.
    CloseHandle(file);
    DeleteAtPlace(path);
    if (action == kJournalReplaced)
      MoveAtPlace(backup, path);
    ReportWriteFailure(kCreateFailedTemplate, path);
    return -1;
  }
  int result = CopyEntryData(progress, entry, package, file, path, ExpectedHashes{expected_hash, signed_sha256});
  CloseHandle(file);
  return result;
}

// Every file written goes to the disk before the run can commit: all are
// written first, then flushed in turn. The records that say which files the
// run created go first, so that no file's bytes reach the disk before the
// record that lets the next start remove it.
static void FlushWrittenFiles(PassProgress *progress) {
  char failed[kPathBytes];
  if (InstallStatus != kStatusRunning)
    return;
  if (FlushRunRecord() != 0) {
    char record[kPathBytes];
    if (BuildRunRecordPath(record, sizeof record, TARGETDIR) != 0)
      CopyText(record, sizeof record, TARGETDIR);
    ReportWriteFailure(kCannotWriteTemplate, record);
  } else if (FlushJournalFiles(progress, failed, sizeof failed) != 0) {
    ReportWriteFailure(kCopyFailedTemplate, failed);
  }
}

void AdvanceProgress(PassProgress *progress, uint32_t bytes) {
  ProgressKiB = AddChunkKiB(ProgressKiB, bytes);
  ShowPercent(progress, ProgressPercent(ProgressKiB, ArchiveSizeKiB()));
}

int ExtractAll(PassProgress *progress) {
  char package_path[kPathBytes];
  HANDLE package = INVALID_HANDLE_VALUE;
  if (BuildPackagePath(package_path, sizeof package_path, SourceFolder) == 0)
    package = CreateFileA(package_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (package == INVALID_HANDLE_VALUE) {
    InstallStatus = kStatusFailed;
    return -1;
  }
  if (PlanRun() != 0) {
    CloseHandle(package);
    return 0;
  }
  ArchiveEntry entry;
  for (int32_t n = 0; InstallStatus == kStatusRunning && GetArchiveEntry(n, &entry) == n; ++n) {
    uint64_t hash = 0;
    const uint64_t *expected_hash = GetEntryHash(n, &hash) ? &hash : nullptr;
    if (EnsureEntryDirectories(entry) != 0 ||
        ExtractEntry(progress, entry, package, expected_hash, GetEntrySignedHash(n)) != 0)
      break;
  }
  CloseHandle(package);
  FlushWrittenFiles(progress);
  return 0;
}

void ResetExtractionState() { std::memset(sCopyBuffer, 0, sizeof sCopyBuffer); }
