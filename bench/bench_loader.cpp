// Loading a directory of 20 000 entries: the loader's few large reads against
// the five small reads per entry of a plain entry-by-entry reader, side by
// side in one run on the same file.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "archive/loader_win32.h"
#include "package_bytes.h"
#include "test_support.h"

namespace {

enum { kEntries = 20000, kRounds = 5 };

std::string MakeDirectoryPackage() {
  std::string directory;
  for (uint32_t i = 0; i < kEntries; ++i) {
    std::string name = "data\\folder" + std::to_string(i % 50) + "\\file" + std::to_string(i) + ".bin";
    directory += EntryRecord(name, i, 0);
  }
  return directory + Trailer(0, kEntries);
}

// The reader the format suggests: one read for the length, one for the name,
// three for the numbers, for every entry.
int32_t LoadEntryByEntry(const std::string &path, std::vector<ArchiveEntry> *entries) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return 0;
  DWORD got = 0;
  int32_t count = 0;
  uint32_t high = 0, low = 0;
  SetFilePointer(file, -4, nullptr, FILE_END);
  ReadFile(file, &count, 4, &got, nullptr);
  SetFilePointer(file, -12, nullptr, FILE_END);
  ReadFile(file, &high, 4, &got, nullptr);
  ReadFile(file, &low, 4, &got, nullptr);
  entries->resize(static_cast<size_t>(count));
  LONG distance_high = static_cast<LONG>(high);
  SetFilePointer(file, static_cast<LONG>(low), &distance_high, FILE_BEGIN);
  for (ArchiveEntry &entry : *entries) {
    unsigned char length = 0;
    ReadFile(file, &length, 1, &got, nullptr);
    ReadFile(file, entry.name, length, &got, nullptr);
    entry.name[length] = '\0';
    ReadFile(file, &entry.size, 4, &got, nullptr);
    ReadFile(file, &entry.offset_high, 4, &got, nullptr);
    ReadFile(file, &entry.offset_low, 4, &got, nullptr);
  }
  CloseHandle(file);
  return count;
}

double Seconds(LARGE_INTEGER start, LARGE_INTEGER end) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

} // namespace

int main() {
  TempDir dir;
  std::string path = dir.Join("UPDATE.DAT");
  if (!WriteBytes(path, MakeDirectoryPackage())) {
    std::printf("bench_loader: cannot write %s\n", path.c_str());
    return 1;
  }
  double ours = 1e9, plain = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    LARGE_INTEGER t0, t1, t2;
    QueryPerformanceCounter(&t0);
    int32_t loaded = LoadArchiveDirectory(dir.path.c_str());
    QueryPerformanceCounter(&t1);
    std::vector<ArchiveEntry> entries;
    int32_t plain_loaded = LoadEntryByEntry(path, &entries);
    QueryPerformanceCounter(&t2);
    if (loaded != kEntries || plain_loaded != kEntries) {
      std::printf("bench_loader: loaded %d and %d entries, expected %d\n", loaded, plain_loaded, kEntries);
      return 1;
    }
    ours = std::min(ours, Seconds(t0, t1));
    plain = std::min(plain, Seconds(t1, t2));
  }
  std::printf("directory of %d entries (best of %d):\n", kEntries, kRounds);
  std::printf("  loader, large reads        %8.1f ms\n", ours * 1000);
  std::printf("  entry by entry, 5 reads    %8.1f ms\n", plain * 1000);
  std::printf("  ratio                      %8.1f x faster\n", plain / ours);
  return 0;
}
