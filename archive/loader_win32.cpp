// Loading of the package directory with a few large reads.
#include "archive/loader_win32.h"

#include <windows.h>

#include <cstdlib>

#include "archive/package_signature.h"
#include "archive/publisher_key.h"
#include "common/run_state.h"
#include "common/text.h"

static ArchiveEntry *ArchiveDirectory = nullptr;
static uint64_t *sArchiveHashes = nullptr; // nullptr: the package has no data check
// The signed SHA-256 of each entry's data; nullptr unless the program carries
// the publisher's key (and then the package was signed with it).
static unsigned char *sSignedHashes = nullptr;
static int32_t sArchiveCount = 0;
static PackageError sLastError = kPackageOk;

int BuildPackagePath(char *dest, size_t capacity, const char *source_folder) {
  // An empty folder would join to the root of the current drive.
  if (source_folder[0] == '\0')
    return -1;
  return JoinPath(dest, capacity, source_folder, kPackageFileName);
}

static size_t ReadFromFileAt(void *context, uint64_t offset, unsigned char *dest, size_t want) {
  HANDLE file = static_cast<HANDLE>(context);
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(offset);
  DWORD got = 0;
  if (!SetFilePointerEx(file, distance, nullptr, FILE_BEGIN) ||
      !ReadFile(file, dest, static_cast<DWORD>(want), &got, nullptr))
    return 0;
  return got;
}

// Reads and checks the whole directory; on success hands over new arrays.
static PackageError ReadDirectory(HANDLE file, ArchiveEntry **entries, int32_t *count, uint64_t **hashes,
                                  unsigned char **signed_hashes, int64_t *figure) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size))
    return kPackageTooShort;
  PackageSource source{ReadFromFileAt, file, static_cast<uint64_t>(size.QuadPart)};
  int32_t bad_entry = -1;
  // The publisher's signature is asked for first: a program that carries a
  // key reads nothing else of a package its publisher did not sign.
  unsigned char key[kPublisherKeyBytes];
  PackageError error = GetPublisherKey(key) ? CheckPackageSignature(source, key, signed_hashes) : kPackageOk;
  if (error == kPackageOk)
    error = ReadPackageDirectory(source, entries, count, &bad_entry, hashes);
  if (error == kPackageOk) {
    *figure = PackageSizeFigure(source.file_size);
    return error;
  }
  std::free(*signed_hashes);
  *signed_hashes = nullptr;
  return error;
}

void UnloadArchiveDirectory() {
  std::free(ArchiveDirectory);
  ArchiveDirectory = nullptr;
  std::free(sArchiveHashes);
  sArchiveHashes = nullptr;
  std::free(sSignedHashes);
  sSignedHashes = nullptr;
  sArchiveCount = 0;
  ArchiveSizeFigure = -1;
}

int32_t LoadArchiveDirectory(const char *source_folder) {
  UnloadArchiveDirectory();
  char path[kPathBytes];
  if (BuildPackagePath(path, sizeof path, source_folder) != 0) {
    sLastError = kPackageCannotOpen;
    return 0;
  }
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    sLastError = kPackageCannotOpen;
    return 0;
  }
  ArchiveEntry *entries = nullptr;
  uint64_t *hashes = nullptr;
  unsigned char *signed_hashes = nullptr;
  int32_t count = 0;
  int64_t figure = -1;
  sLastError = ReadDirectory(file, &entries, &count, &hashes, &signed_hashes, &figure);
  CloseHandle(file);
  if (sLastError != kPackageOk)
    return 0;
  ArchiveDirectory = entries;
  sArchiveHashes = hashes;
  sSignedHashes = signed_hashes;
  sArchiveCount = count;
  ArchiveSizeFigure = figure;
  return count;
}

int32_t GetArchiveEntry(int32_t n, ArchiveEntry *entry) {
  if (n < 0 || n >= sArchiveCount)
    return -1;
  *entry = ArchiveDirectory[n];
  return n;
}

bool GetEntryHash(int32_t n, uint64_t *hash) {
  if (sArchiveHashes == nullptr || n < 0 || n >= sArchiveCount)
    return false;
  *hash = sArchiveHashes[n];
  return true;
}

const unsigned char *GetEntrySignedHash(int32_t n) {
  if (sSignedHashes == nullptr || n < 0 || n >= sArchiveCount)
    return nullptr;
  return sSignedHashes + static_cast<size_t>(n) * kSignatureHashBytes;
}

PackageError LastPackageError() { return sLastError; }

void ResetLoaderState() {
  UnloadArchiveDirectory();
  sLastError = kPackageOk;
}
