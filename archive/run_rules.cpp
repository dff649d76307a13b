// The rules of a run that need no disk.
#include "archive/run_rules.h"

#include "common/text.h"
#include "journal/run_record_format.h"
#include "journal/uninstall_codec.h"

int JoinEntryPath(char (&path)[kPathBytes], char (&whole)[kWholeEntryPathBytes], const char *folder, const char *name) {
  whole[0] = '\0';
  if (JoinPath(path, sizeof path, folder, name) == 0)
    return 0;
  JoinPath(whole, sizeof whole, folder, name);
  return -1;
}

BackupRefusal JudgeBackup(bool path_is_folder, bool backup_fits, bool backup_taken) {
  if (path_is_folder)
    return kBackupFolderInTheWay;
  if (!backup_fits)
    return kBackupNameTooLong;
  return backup_taken ? kBackupNameTaken : kBackupAllowed;
}

bool IsRecordedPathAccepted(char kind, const char *relative, size_t length) {
  bool list_file = kind == kRecordListTemp || kind == kRecordCommit || kind == kRecordPreviousList;
  return length > 0 && IsSafeEntryName(relative, length) && (!list_file || IsListTemporaryName(relative, length));
}
