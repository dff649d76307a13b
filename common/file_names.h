// The names of the files the program reads and writes, each spelt once: the
// package beside the program, the uninstall list and the run record in the
// game's data directory, and the suffix of a replaced file's backup. A text
// that names one of them is put together from these macros at compile time.
// Portable.
#pragma once

#define PACKAGE_FILE_NAME "UPDATE.DAT"
#define UNINSTALL_FILE_NAME "uinst.dat"
#define RUN_RECORD_FILE_NAME "update.run"
#define BACKUP_SUFFIX "_old"

inline constexpr char kPackageFileName[] = PACKAGE_FILE_NAME;
inline constexpr char kUninstallFileName[] = UNINSTALL_FILE_NAME;
inline constexpr char kRunRecordFileName[] = RUN_RECORD_FILE_NAME;
inline constexpr char kBackupSuffix[] = BACKUP_SUFFIX;
