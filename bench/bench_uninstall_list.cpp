// Loading 20 000 uninstall entries, adding 20 000 created paths and saving
// the list: the indexed list of the program against a straight scan over all
// entries for every addition, side by side in one run.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/text.h"
#include "common/run_state.h"
#include "journal/journal.h"
#include "journal/uninstall_list_win32.h"

enum { kLoadedEntries = 20000, kAddedEntries = 20000, kStraightCapacity = kLoadedEntries + kAddedEntries };

static std::string PathOf(const char *folder, const char *kind, int n) {
  char name[64];
  FormatText(name, sizeof name, "data\\%s\\file%05d.bin", kind, n);
  return std::string(folder) + "\\" + name;
}

static bool WriteListFile(const std::string &path, const char *folder) {
  std::string bytes;
  for (int n = 0; n < kLoadedEntries; ++n)
    bytes += "F" + PathOf(folder, "old", n) + std::string(1, '\0');
  bytes += std::string(1, '\0');
  FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr)
    return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

static void FillJournal(const char *folder) {
  ResetJournal();
  for (int n = 0; n < kAddedEntries; ++n)
    JournalAppend("F", PathOf(folder, "new", n).c_str(), kJournalCreated);
}

// The straight scan: every addition compares its text with every entry.
static char *StraightList[kStraightCapacity];
static int StraightCount = 0;

static void StraightAdd(const char *kind, const char *path) {
  char text[1024];
  if (CopyText(text, sizeof text, kind) != 0 || AppendText(text, sizeof text, path) != 0)
    return;
  for (int i = 0; i < StraightCount; ++i)
    if (std::strcmp(StraightList[i], text) == 0)
      return;
  if (StraightCount < kStraightCapacity)
    StraightList[StraightCount++] = _strdup(text);
}

static void StraightLoad(const char *path) {
  FILE *file = std::fopen(path, "rb");
  if (file == nullptr)
    return;
  std::fseek(file, 0, SEEK_END);
  long size = std::ftell(file);
  std::fseek(file, 0, SEEK_SET);
  char *buffer = size < 0 ? nullptr : static_cast<char *>(std::malloc(static_cast<size_t>(size) + 2));
  if (buffer == nullptr) {
    std::fclose(file);
    return;
  }
  size_t got = std::fread(buffer, 1, static_cast<size_t>(size), file);
  std::fclose(file);
  buffer[got] = buffer[got + 1] = '\0';
  for (char *cursor = buffer; *cursor != '\0'; cursor += std::strlen(cursor) + 1) {
    char kind[2] = {cursor[0], '\0'};
    StraightAdd(kind, cursor + 1);
  }
  std::free(buffer);
}

static void StraightSave(const char *path) {
  for (int32_t i = 0; i < JournalCount(); ++i)
    if (JournalAt(i).action == kJournalCreated)
      StraightAdd(JournalAt(i).kind, JournalAt(i).path);
  FILE *file = std::fopen(path, "wb");
  if (file == nullptr)
    return;
  for (int i = 0; i < StraightCount; ++i)
    std::fwrite(StraightList[i], 1, std::strlen(StraightList[i]) + 1, file);
  std::fputc('\0', file);
  std::fclose(file);
}

static bool SameContent(const std::string &a_path, const std::string &b_path) {
  FILE *a = std::fopen(a_path.c_str(), "rb");
  FILE *b = std::fopen(b_path.c_str(), "rb");
  bool same = false;
  if (a != nullptr && b != nullptr) {
    int ca, cb;
    do {
      ca = std::fgetc(a);
      cb = std::fgetc(b);
    } while (ca == cb && ca != EOF);
    same = ca == cb;
  }
  if (a != nullptr)
    std::fclose(a);
  if (b != nullptr)
    std::fclose(b);
  return same;
}

static double Seconds(LARGE_INTEGER start, LARGE_INTEGER end) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

static std::string MakeFolder(const char *name) {
  char base[MAX_PATH];
  GetTempPathA(sizeof base, base);
  char folder[MAX_PATH];
  FormatText(folder, sizeof folder, "%supdbench_%lu_%s", base, GetCurrentProcessId(), name);
  CreateDirectoryA(folder, nullptr);
  return folder;
}

static void RemoveFolder(const std::string &folder, const std::string &list_path) {
  DeleteFileA(list_path.c_str());
  RemoveDirectoryA(folder.c_str());
}

int main() {
  std::string indexed_folder = MakeFolder("indexed");
  std::string straight_folder = MakeFolder("straight");
  std::string indexed_list = indexed_folder + "\\uinst.dat";
  std::string straight_list = straight_folder + "\\uinst.dat";
  // Both lists hold the same paths, so that both compare texts of one shape.
  if (!WriteListFile(indexed_list, indexed_folder.c_str()) || !WriteListFile(straight_list, indexed_folder.c_str())) {
    std::printf("could not write the lists\n");
    return 1;
  }
  FillJournal(indexed_folder.c_str());

  LARGE_INTEGER start, middle, end;
  CopyText(TARGETDIR, sizeof TARGETDIR, indexed_folder.c_str());
  QueryPerformanceCounter(&start);
  int loaded = LoadUninstallList();
  SaveUninstallList(nullptr);
  QueryPerformanceCounter(&middle);
  StraightLoad(straight_list.c_str());
  StraightSave(straight_list.c_str());
  QueryPerformanceCounter(&end);

  bool same = SameContent(indexed_list, straight_list);
  double indexed = Seconds(start, middle);
  double straight = Seconds(middle, end);
  std::printf("uninstall list: %d loaded + %d added entries, then saved\n", kLoadedEntries, kAddedEntries);
  std::printf("  indexed:       %9.3f s (%d entries, load %s, status %d)\n", indexed, UninstallEntryCount(),
              loaded == 0 ? "ok" : "failed", InstallStatus);
  std::printf("  straight scan: %9.3f s (%d entries)\n", straight, StraightCount);
  std::printf("  ratio straight/indexed: %.1f\n", indexed > 0 ? straight / indexed : 0.0);
  std::printf("  written files %s\n", same ? "identical" : "DIFFER");
  RemoveFolder(indexed_folder, indexed_list);
  RemoveFolder(straight_folder, straight_list);
  return same && loaded == 0 && InstallStatus == kStatusRunning ? 0 : 1;
}
