// The package directory of UPDATE.DAT, loaded once at start-up and kept for
// the life of the process.
#pragma once
#include <cstddef>
#include <cstdint>

#include "archive/package_format.h"
#include "common/file_names.h" // kPackageFileName

// Loads the directory of UPDATE.DAT in source_folder. Returns the entry count,
// or 0 when the package is missing, unreadable or refused (nothing is kept).
// A program that carries the publisher's key refuses a package whose
// signature does not verify with it.
int32_t LoadArchiveDirectory(const char *source_folder);

// Forgets the loaded directory: a refused package leaves no entry behind.
void UnloadArchiveDirectory();

// Copies entry n into entry and returns n; -1 when n is not below the count.
int32_t GetArchiveEntry(int32_t n, ArchiveEntry *entry);

// The data check hash of entry n (XXH3-64 of its data bytes). false when the
// package carries no data check or n is not below the count.
bool GetEntryHash(int32_t n, uint64_t *hash);

// The signed SHA-256 of entry n's data (kSha256DigestBytes), when the
// program carries the publisher's key; nullptr otherwise or when n is not
// below the count.
const unsigned char *GetEntrySignedHash(int32_t n);

// Joins a folder with UPDATE.DAT. 0, or -1 when the folder is empty or the
// path does not fit.
int BuildPackagePath(char *dest, size_t capacity, const char *source_folder);

// Why the last load refused the package (kPackageOk when it did not).
PackageError LastPackageError();

// The loader as at program start: no directory, no error. Part of
// ResetProgramState (driver/program_state_win32.h).
void ResetLoaderState();
