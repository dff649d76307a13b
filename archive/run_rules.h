// The rules of a run that need no disk, kept in one place: update.exe's
// passes apply them to the folder as Windows shows it, and mkupdate check to
// a copy of a game folder, so that the check predicts what the program does.
// The failure each rule leads to is named in common/failure_messages.h, the
// backup name in journal/backup_name.h, the list's names in
// journal/uninstall_codec.h and the record's in journal/run_record_format.h.
// Portable: built into update.exe and natively for mkupdate and the tests.
#pragma once
#include <cstddef>

#include "archive/package_format.h"
#include "common/limits.h"

enum { kWholeEntryPathBytes = kFolderBufferBytes + kEntryNameBytes + 1 };

// An entry's path: the data directory, a separator unless it ends in one,
// the entry's name. A path that does not fit kPathBytes is never cut: the
// entry fails ("...の作成に失敗しました。") naming all of it, which whole
// then holds. 0, or -1.
int JoinEntryPath(char (&path)[kPathBytes], char (&whole)[kWholeEntryPathBytes], const char *folder, const char *name);

// Whether a file that is there may move to its backup name, and if not why.
// The extraction pass then fails on the entry ("...の退避に失敗しました。")
// and the run's plan leaves it out: a folder moved aside would stay under
// its backup name for good, a backup name that does not fit is never cut,
// and one already taken is the player's, never moved over.
enum BackupRefusal { kBackupAllowed, kBackupFolderInTheWay, kBackupNameTooLong, kBackupNameTaken };
BackupRefusal JudgeBackup(bool path_is_folder, bool backup_fits, bool backup_taken);

// Whether the next start may act on a path its run record names (relative
// to the data directory): one of the kind a package entry may have, and for
// the list's own records a name of the list's temporary file. A record with
// any other path is refused as a whole.
bool IsRecordedPathAccepted(char kind, const char *relative, size_t length);
