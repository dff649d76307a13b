// The whole-run benchmark's baseline: a plain Win32 copy of a package's
// entries, what any Win32 program pays under the same Wine. Reads the
// package directory with the program's loader, then for each entry creates
// the file (and its folder when missing) and copies its bytes in 1 MiB
// chunks: no window, no backup, no journal, no data check, no flush.
// Prints "copy <seconds> s <files> files peak <KiB> KiB", timed from its
// start to its last close.
#include <windows.h>

#include <psapi.h>

#include <cstdio>

#include "archive/loader.h"
#include "common/cp932.h"
#include "common/text.h"

static const DWORD kChunkBytes = 1048576;
enum { kCopierPathBytes = 2048 };

static unsigned char Chunk[kChunkBytes];

static double SecondsSince(const LARGE_INTEGER &start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

static HANDLE CreateAlways(const char *path) {
  return CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
}

// Only a missing folder costs a second try: the common case is one create.
static HANDLE CreateWithFolder(char *path) {
  HANDLE file = CreateAlways(path);
  if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PATH_NOT_FOUND)
    return file;
  long separator = FindLastSeparator(path);
  if (separator <= 0)
    return INVALID_HANDLE_VALUE;
  path[separator] = '\0';
  bool made = CreateDirectoryA(path, nullptr) != 0;
  path[separator] = '\\';
  return made ? CreateAlways(path) : INVALID_HANDLE_VALUE;
}

static bool CopyBytes(HANDLE package, const ArchiveEntry &entry, HANDLE file) {
  LARGE_INTEGER offset;
  offset.QuadPart = static_cast<LONGLONG>(EntryDataOffset(entry));
  if (!SetFilePointerEx(package, offset, nullptr, FILE_BEGIN))
    return false;
  for (uint32_t left = entry.size; left > 0;) {
    DWORD want = left < kChunkBytes ? left : kChunkBytes;
    DWORD got = 0, written = 0;
    if (!ReadFile(package, Chunk, want, &got, nullptr) || got != want ||
        !WriteFile(file, Chunk, got, &written, nullptr) || written != got)
      return false;
    left -= got;
  }
  return true;
}

static bool CopyEntry(HANDLE package, const char *target, const ArchiveEntry &entry) {
  char path[kCopierPathBytes];
  if (JoinPath(path, sizeof path, target, entry.name) != 0)
    return false;
  HANDLE file = CreateWithFolder(path);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  bool copied = CopyBytes(package, entry, file);
  return CloseHandle(file) && copied;
}

static unsigned long PeakKiB() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
    return 0;
  return static_cast<unsigned long>(counters.PeakWorkingSetSize / 1024);
}

int main(int argc, char **argv) {
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  if (argc != 3) {
    std::fprintf(stderr, "usage: plain_copier PACKAGE_FOLDER TARGET_FOLDER\n");
    return 2;
  }
  int32_t count = LoadArchiveDirectory(argv[1]);
  char package_path[kCopierPathBytes];
  if (count == 0 || BuildPackagePath(package_path, sizeof package_path, argv[1]) != 0) {
    std::fprintf(stderr, "plain_copier: can't load the package in %s\n", argv[1]);
    return 1;
  }
  HANDLE package = CreateFileA(package_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ArchiveEntry entry;
  int32_t n = 0;
  while (package != INVALID_HANDLE_VALUE && GetArchiveEntry(n, &entry) == n && CopyEntry(package, argv[2], entry))
    ++n;
  if (package != INVALID_HANDLE_VALUE)
    CloseHandle(package);
  double seconds = SecondsSince(start);
  if (n != count) {
    std::fprintf(stderr, "plain_copier: entry %ld failed\n", static_cast<long>(n));
    return 1;
  }
  std::printf("copy %.3f s %ld files peak %lu KiB\n", seconds, static_cast<long>(n), PeakKiB());
  return 0;
}
