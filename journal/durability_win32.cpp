// The plan of a run, the flushes of its files and folders.
#include "journal/durability_win32.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/cp932.h"
#include "common/file_look_win32.h"
#include "common/limits.h"
#include "common/owned_win32.h"
#include "common/text.h"
#include "journal/journal.h"
#include "journal/run_record_win32.h"
#include "journal/uninstall_codec.h"

// The changes the plan names, in plan order, which is the order the run
// makes them in.
struct PlannedChange {
  char kind;
  char *path;
};
static PlannedChange *sPlannedChanges = nullptr;
static size_t sPlannedCount = 0;
static size_t sPlannedCapacity = 0;
static size_t sNextPlanned = 0;
static char sPlannedTemporary[kPathBytes];
static char sPlannedTemporaryFolder[kPathBytes];

void StartRunPlan() {
  for (size_t i = 0; i < sPlannedCount; ++i)
    std::free(sPlannedChanges[i].path);
  sPlannedCount = 0;
  sNextPlanned = 0;
  sPlannedTemporary[0] = '\0';
}

void ResetRunPlanState() {
  StartRunPlan();
  std::free(sPlannedChanges);
  sPlannedChanges = nullptr;
  sPlannedCapacity = 0;
  sPlannedTemporaryFolder[0] = '\0';
}

static bool Remember(char kind, const char *path) {
  if (sPlannedCount == sPlannedCapacity) {
    size_t capacity = sPlannedCapacity == 0 ? 256 : sPlannedCapacity * 2;
    void *grown = std::realloc(sPlannedChanges, capacity * sizeof *sPlannedChanges);
    if (grown == nullptr)
      return false;
    sPlannedChanges = static_cast<PlannedChange *>(grown);
    sPlannedCapacity = capacity;
  }
  size_t length = std::strlen(path);
  char *copy = static_cast<char *>(std::malloc(length + 1));
  if (copy == nullptr)
    return false;
  std::memcpy(copy, path, length + 1);
  sPlannedChanges[sPlannedCount++] = {kind, copy};
  return true;
}

int PlanChange(char kind, const char *path) {
  if (AppendRunRecord(kind, path) != 0)
    return -1;
  // A change the plan could not remember is recorded again when it is made.
  Remember(kind, path);
  return 0;
}

int ChooseListTemporaryName(const char *folder, char *path, size_t capacity) {
  // A number of our own, so that the name is known (and recorded) before
  // the file exists: the system's choice creates the file first. The step
  // is odd, so the numbers visit every value once.
  unsigned seed = GetTickCount() ^ (GetCurrentProcessId() << 8);
  for (unsigned attempt = 0; attempt < 0x10000; ++attempt) {
    unsigned number = (seed + attempt * 40503u) & 0xFFFF;
    char name[16];
    if (number == 0 || FormatText(name, sizeof name, "%s%X.tmp", kListTemporaryPrefix, number) != 0)
      continue;
    if (JoinPath(path, capacity, folder, name) != 0)
      return -1;
    if (LookForFile(path) != kFilePresent)
      return 0;
  }
  return -1;
}

int PlanListTemporary(const char *folder) {
  char name[kPathBytes];
  if (ChooseListTemporaryName(folder, name, sizeof name) != 0)
    return -1;
  if (CopyText(sPlannedTemporary, sizeof sPlannedTemporary, name) != 0 ||
      CopyText(sPlannedTemporaryFolder, sizeof sPlannedTemporaryFolder, folder) != 0) {
    sPlannedTemporary[0] = '\0';
    return -1;
  }
  return PlanChange(kRecordListTemp, name);
}

// Whether the plan named this change; each planned change answers once.
static bool TakePlanned(char kind, const char *path) {
  for (size_t i = sNextPlanned; i < sPlannedCount; ++i) {
    if (sPlannedChanges[i].kind == kind && std::strcmp(sPlannedChanges[i].path, path) == 0) {
      sNextPlanned = i + 1;
      return true;
    }
  }
  return false;
}

int RecordChange(char kind, const char *path) {
  if (TakePlanned(kind, path))
    return 0;
  return AppendRunRecord(kind, path) == 0 ? FlushRunRecord() : -1;
}

bool TakeNextPlannedChange(char kind, const char *path) {
  if (sNextPlanned >= sPlannedCount || sPlannedChanges[sNextPlanned].kind != kind ||
      std::strcmp(sPlannedChanges[sNextPlanned].path, path) != 0)
    return false;
  ++sNextPlanned;
  return true;
}

bool TakePlannedListTemporary(const char *folder, char *dest, size_t capacity) {
  bool planned_here = sPlannedTemporary[0] != '\0' && std::strcmp(sPlannedTemporaryFolder, folder) == 0;
  if (!planned_here || CopyText(dest, capacity, sPlannedTemporary) != 0)
    return false;
  sPlannedTemporary[0] = '\0';
  return true;
}

static bool FlushFile(const char *path) {
  OwnedHandle file(
      CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  return file.valid() && FlushFileBuffers(file.get());
}

int FlushJournalFiles(PassProgress *progress, char *failed, size_t capacity) {
  // All bytes were written before the first flush, so the flushes follow
  // one another without a write between them.
  for (int32_t i = 0; i < JournalCount(); ++i) {
    const JournalRecord &record = JournalAt(i);
    if (record.kind[0] != 'F')
      continue;
    PumpProgress(progress);
    if (!FlushFile(record.path)) {
      CopyText(failed, capacity, record.path);
      return -1;
    }
  }
  return 0;
}

bool FlushFolder(const char *folder) {
  // A folder opened for writing can be flushed: under Wine that is fsync on
  // the folder, which puts its entries on the disk.
  OwnedHandle handle(CreateFileA(folder, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return handle.valid() && FlushFileBuffers(handle.get());
}

void FlushJournalFolders(const char *root) {
  std::vector<std::string> folders;
  for (int32_t i = 0; i < JournalCount(); ++i) {
    const char *path = JournalAt(i).path;
    long separator = FindLastSeparator(path);
    if (separator > 0)
      folders.emplace_back(path, static_cast<size_t>(separator));
  }
  std::sort(folders.begin(), folders.end());
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  for (const std::string &folder : folders) {
    if (folder != root)
      FlushFolder(folder.c_str());
  }
  FlushFolder(root);
}

bool FlushFolderOf(const char *path) {
  char folder[kPathBytes];
  long separator = FindLastSeparator(path);
  if (separator < 0 || CopyText(folder, sizeof folder, path) != 0)
    return false;
  folder[separator] = '\0';
  return FlushFolder(folder);
}
