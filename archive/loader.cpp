// Loading of the package directory with a few large reads.
#include "archive/loader.h"

#include <windows.h>

#include <cstdlib>

#include "common/text.h"
#include "driver/state.h"

const char kPackageFileName[] = "UPDATE.DAT";

static ArchiveEntry *ArchiveDirectory = nullptr;
static int32_t ArchiveCount = 0;
static int64_t ArchiveSizeFigure = -1;
static PackageError LastError = kPackageOk;

enum { kDirectoryReadAheadBytes = 256 * 1024 };

int BuildPackagePath(char *dest, size_t capacity, const char *source_folder) {
  return JoinPath(dest, capacity, source_folder, kPackageFileName);
}

static bool SeekTo(HANDLE file, uint64_t offset) {
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file, distance, nullptr, FILE_BEGIN) != 0;
}

static size_t FillFromFile(void *context, unsigned char *dest, size_t want) {
  DWORD got = 0;
  if (!ReadFile(static_cast<HANDLE>(context), dest, static_cast<DWORD>(want), &got, nullptr))
    return 0;
  return got;
}

static bool ReadTrailer(HANDLE file, uint64_t file_size, unsigned char trailer[kTrailerBytes]) {
  DWORD got = 0;
  return SeekTo(file, file_size - kTrailerBytes) && ReadFile(file, trailer, kTrailerBytes, &got, nullptr) &&
         got == kTrailerBytes;
}

// Reads and checks the whole directory; on success hands over a new array.
static PackageError ReadDirectory(HANDLE file, ArchiveEntry **entries_out, int32_t *count_out, int64_t *figure_out) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || size.QuadPart < kTrailerBytes)
    return kPackageTooShort;
  uint64_t file_size = static_cast<uint64_t>(size.QuadPart);
  unsigned char trailer_bytes[kTrailerBytes];
  if (!ReadTrailer(file, file_size, trailer_bytes))
    return kPackageTooShort;
  PackageTrailer trailer = DecodeTrailer(trailer_bytes);
  uint64_t directory_bytes = 0;
  PackageError error = CheckTrailer(trailer, file_size, &directory_bytes);
  if (error != kPackageOk)
    return error;
  size_t array_bytes = DirectoryArrayBytes(trailer.count);
  ArchiveEntry *entries = array_bytes ? static_cast<ArchiveEntry *>(std::malloc(array_bytes)) : nullptr;
  unsigned char *read_ahead = static_cast<unsigned char *>(std::malloc(kDirectoryReadAheadBytes));
  if (entries == nullptr || read_ahead == nullptr) {
    std::free(entries);
    std::free(read_ahead);
    return kPackageNoMemory;
  }
  error = kPackageDirectoryShort;
  if (SeekTo(file, trailer.directory_offset)) {
    ByteStream stream;
    InitByteStream(&stream, FillFromFile, file, read_ahead, kDirectoryReadAheadBytes, directory_bytes);
    int32_t bad_entry = -1;
    error = DecodeDirectory(&stream, trailer.count, entries, &bad_entry);
  }
  std::free(read_ahead);
  if (error != kPackageOk) {
    std::free(entries);
    return error;
  }
  *entries_out = entries;
  *count_out = trailer.count;
  *figure_out = PackageSizeFigure(file_size);
  return kPackageOk;
}

// Forgets the loaded directory: a refused package leaves no entry behind.
static void ForgetDirectory() {
  std::free(ArchiveDirectory);
  ArchiveDirectory = nullptr;
  ArchiveCount = 0;
  ArchiveSizeFigure = -1;
}

int32_t LoadArchiveDirectory(const char *source_folder) {
  ForgetDirectory();
  char path[kPathBytes];
  if (BuildPackagePath(path, sizeof path, source_folder) != 0) {
    LastError = kPackageCannotOpen;
    return 0;
  }
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    LastError = kPackageCannotOpen;
    return 0;
  }
  ArchiveEntry *entries = nullptr;
  int32_t count = 0;
  int64_t figure = -1;
  LastError = ReadDirectory(file, &entries, &count, &figure);
  CloseHandle(file);
  if (LastError != kPackageOk)
    return 0;
  ArchiveDirectory = entries;
  ArchiveCount = count;
  ArchiveSizeFigure = figure;
  return count;
}

int32_t GetArchiveEntry(int32_t n, ArchiveEntry *entry) {
  if (n < 0 || n >= ArchiveCount)
    return -1;
  *entry = ArchiveDirectory[n];
  return n;
}

int64_t ArchiveSizeKiB() { return SizeFigureKiB(ArchiveSizeFigure); }

PackageError LastPackageError() { return LastError; }
