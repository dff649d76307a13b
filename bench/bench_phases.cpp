// Where the whole run's time goes: the steps after the start button through
// the driver's own functions (RunInstall under the progress window, then
// SettleOutcome with its wait window and final message), each timed, and
// the per-entry duties of the run measured apart on the same folder: the
// folder check of every entry, the bar move and the pump of every chunk,
// the finishing pump of every record and the wait window itself. Run twice
// on one target: the second run replaces every file, so its finishing
// flushes them and deletes their backups.
#include <windows.h>

#include <cstdio>

#include "archive/extract_win32.h"
#include "archive/hash.h"
#include "archive/loader_win32.h"
#include "common/run_state.h"
#include "common/text.h"
#include "driver/run_win32.h"
#include "journal/journal.h"
#include "journal/uninstall_list_win32.h"
#include "ui/progress_dialog_win32.h"
#include "ui/resources/resource_ids.h"
#include "ui/window_helpers_win32.h"

static double Now() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// XXH3 over the package's bytes in memory, 1 MiB at a time: the data
// check's own share of the copy.
static double HashSeconds(uint64_t bytes) {
  static unsigned char chunk[kCopyChunkBytes];
  for (size_t i = 0; i < sizeof chunk; ++i)
    chunk[i] = static_cast<unsigned char>(i * 131);
  DataHasher hasher;
  InitDataHasher(&hasher);
  double start = Now();
  for (uint64_t done = 0; done < bytes; done += sizeof chunk)
    UpdateDataHasher(&hasher, chunk, sizeof chunk);
  volatile uint64_t digest = DataHasherDigest(&hasher);
  (void)digest;
  return Now() - start;
}

struct PackageFigures {
  uint64_t bytes = 0;
  long entries = 0;
  long chunks = 0;
};

static PackageFigures MeasurePackage() {
  PackageFigures figures;
  ArchiveEntry entry;
  for (int32_t n = 0; GetArchiveEntry(n, &entry) == n; ++n) {
    figures.bytes += entry.size;
    figures.chunks += static_cast<long>((static_cast<uint64_t>(entry.size) + kCopyChunkBytes - 1) / kCopyChunkBytes);
    ++figures.entries;
  }
  return figures;
}

// A message box that closes itself once it stands and has painted.
static VOID CALLBACK CloseBoxTimer(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  HWND box = GetActiveWindow();
  if (box != nullptr)
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}

// The folder check every entry makes, once the folders exist: one look each.
static double FolderChecksSeconds() {
  double start = Now();
  ArchiveEntry entry;
  for (int32_t n = 0; GetArchiveEntry(n, &entry) == n; ++n)
    EnsureEntryDirectories(entry);
  return Now() - start;
}

// A bar move and a pump per chunk, on an idle progress window.
static double ChunkDutiesSeconds(HINSTANCE instance, long chunks) {
  HWND window = OpenProgressWindow(instance);
  WindowProgress progress(window);
  double start = Now();
  for (long i = 0; i < chunks; ++i) {
    progress.ShowPercent(static_cast<int32_t>(i * 100 / (chunks > 0 ? chunks : 1)));
    progress.Pump();
  }
  double spent = Now() - start;
  DestroyWindow(window);
  return spent;
}

struct WaitWindowTimes {
  double up = 0, pumps = 0, down = 0;
};

// The finishing wait window, and a pump per journal record.
static WaitWindowTimes WaitWindowSeconds(HINSTANCE instance, long records) {
  WaitWindowTimes times;
  double t0 = Now();
  HWND window = OpenStatusWindow(instance, IDD_FINISH_WAIT);
  double t1 = Now();
  for (long i = 0; i < records; ++i)
    PumpMessages(window);
  double t2 = Now();
  DestroyWindow(window);
  times.up = t1 - t0;
  times.pumps = t2 - t1;
  times.down = Now() - t2;
  return times;
}

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_phases PACKAGE_FOLDER TARGET_FOLDER\n");
    return 2;
  }
  HINSTANCE instance = GetModuleHandleA(nullptr);
  if (CopyText(SourceFolder, sizeof SourceFolder, argv[1]) != 0 ||
      CopyText(TARGETDIR, sizeof TARGETDIR, argv[2]) != 0 || LoadArchiveDirectory(SourceFolder) == 0 ||
      LoadUninstallList() != 0) {
    std::fprintf(stderr, "bench_phases: can't load the package or the list\n");
    return 1;
  }
  double t0 = Now();
  HWND window = OpenProgressWindow(instance);
  double t1 = Now();
  RunInstall(window);
  double t2 = Now();
  DestroyWindow(window);
  double t3 = Now();
  if (InstallStatus != kStatusRunning) {
    std::fprintf(stderr, "bench_phases: the run failed: %s\n", ErrorDetail);
    return 1;
  }
  long records = static_cast<long>(JournalCount());
  SetTimer(nullptr, 0, 1, CloseBoxTimer);
  SettleOutcome(instance);
  double t4 = Now();

  PackageFigures package = MeasurePackage();
  double folders = FolderChecksSeconds();
  double chunk_duties = ChunkDutiesSeconds(instance, package.chunks);
  WaitWindowTimes wait = WaitWindowSeconds(instance, records);
  std::printf("entries %ld, %ld records, %.0f MiB, total %.3f s\n", package.entries, records,
              static_cast<double>(package.bytes) / 1048576.0, t4 - t0);
  std::printf("  progress window up       %.3f s\n", t1 - t0);
  std::printf("  copy and list save       %.3f s (RunInstall)\n", t2 - t1);
  std::printf("  progress window down     %.3f s\n", t3 - t2);
  std::printf("  finishing and message    %.3f s (SettleOutcome)\n", t4 - t3);
  std::printf("measured apart:\n");
  std::printf("  folder check, %ld entries %.3f s\n", package.entries, folders);
  std::printf("  bar and pump, %ld chunks  %.3f s\n", package.chunks, chunk_duties);
  std::printf("  XXH3 in memory           %.3f s\n", HashSeconds(package.bytes));
  std::printf("  wait window up %.3f s, %ld pumps %.3f s, down %.3f s\n", wait.up, records, wait.pumps, wait.down);
  return 0;
}
