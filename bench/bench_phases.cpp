// Where the whole run's time goes: the steps of the run after the start
// button, as driver/run.cpp takes them, each timed on its own, with the
// passes' progress calls timed apart (the per-chunk bar and message pump).
// Extracts UPDATE.DAT of a folder into a target folder with the program's
// own windows. Run twice on one target: the second run replaces every file,
// so its finishing flushes them and deletes their backups.
#include <windows.h>

#include <cstdio>

#include "archive/extract.h"
#include "archive/hash.h"
#include "archive/loader.h"
#include "common/run_state.h"
#include "common/text.h"
#include "journal/journal.h"
#include "journal/journal_passes.h"
#include "journal/run_record.h"
#include "journal/uninstall_list.h"
#include "ui/progress_dialog.h"
#include "ui/resources/resource_ids.h"

static double Now() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The window's progress, with the time spent in each call added up.
class TimedProgress : public PassProgress {
public:
  void Wrap(PassProgress *inner) { inner_ = inner; }
  void ShowPercent(int32_t percent) override {
    double start = Now();
    inner_->ShowPercent(percent);
    double spent = Now() - start;
    show_seconds += spent;
    ++show_calls;
    if (percent != last_percent_) {
      moved_seconds += spent;
      ++moved_calls;
    }
    last_percent_ = percent;
  }
  void Pump() override {
    double start = Now();
    inner_->Pump();
    pump_seconds += Now() - start;
    ++pump_calls;
  }
  double show_seconds = 0, pump_seconds = 0, moved_seconds = 0;
  long show_calls = 0, pump_calls = 0, moved_calls = 0;

private:
  PassProgress *inner_ = nullptr;
  int32_t last_percent_ = -1;
};

// The passes' progress calls, and when the copy ended; read once the
// passes have returned.
static TimedProgress PassProgressTimes;
static double ExtractedAt;

static void TimedPasses(PassProgress *inner) {
  PassProgressTimes.Wrap(inner);
  ExtractAll(&PassProgressTimes);
  ExtractedAt = Now();
  if (InstallStatus == kStatusRunning)
    SaveUninstallList(&PassProgressTimes);
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

static uint64_t PackageDataBytes() {
  uint64_t total = 0;
  ArchiveEntry entry;
  for (int32_t n = 0; GetArchiveEntry(n, &entry) == n; ++n)
    total += entry.size;
  return total;
}

// A message box that closes itself once it stands and has painted.
static VOID CALLBACK CloseBoxTimer(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  HWND box = GetActiveWindow();
  if (box != nullptr)
    PostMessageA(box, WM_COMMAND, IDOK, 0);
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
  ShowCopyingStatus(window);
  double t1 = Now();
  if (OpenRunRecord(TARGETDIR) != 0)
    return 1;
  // As the driver runs them: on a worker thread beside the window, or on
  // this thread with UPD_BENCH_SAME_THREAD set.
  bool same_thread = GetEnvironmentVariableA("UPD_BENCH_SAME_THREAD", nullptr, 0) > 0;
  if (same_thread || !RunBesideWindow(window, TimedPasses)) {
    WindowProgress window_progress(window);
    TimedPasses(&window_progress);
  }
  double t2 = ExtractedAt;
  double t3 = Now();
  const TimedProgress &progress = PassProgressTimes;
  DestroyWindow(window);
  double t4 = Now();
  // As the driver finishes: the wait window only when a backup waits.
  bool replaced = JournalHasReplacedFiles();
  HWND wait_window = replaced ? OpenStatusWindow(instance, IDD_FINISH_WAIT) : nullptr;
  double t5 = Now();
  WindowProgress wait_progress(wait_window);
  int32_t left = replaced ? FinishJournal(&wait_progress) : 0;
  double t6 = Now();
  if (wait_window != nullptr)
    DestroyWindow(wait_window);
  CloseRunRecord(left == 0);
  double t7 = Now();
  SetTimer(nullptr, 0, 1, CloseBoxTimer);
  MessageBoxA(nullptr, "bench", "bench", MB_ICONINFORMATION);
  double t8 = Now();
  if (InstallStatus != kStatusRunning) {
    std::fprintf(stderr, "bench_phases: the run failed: %s\n", ErrorDetail);
    return 1;
  }
  uint64_t bytes = PackageDataBytes();
  double ui = progress.show_seconds + progress.pump_seconds;
  std::printf("entries %ld, %.0f MiB, total %.3f s\n", static_cast<long>(JournalCount()),
              static_cast<double>(bytes) / 1048576.0, t8 - t0);
  std::printf("  progress window up       %.3f s\n", t1 - t0);
  std::printf("  extraction pass          %.3f s (bar %.3f s in %ld calls, %.3f s of it in the %ld that moved it;"
              " pump %.3f s in %ld calls; the rest %.3f s)\n",
              t2 - t1, progress.show_seconds, progress.show_calls, progress.moved_seconds, progress.moved_calls,
              progress.pump_seconds, progress.pump_calls, t2 - t1 - ui);
  std::printf("    of which XXH3 in memory %.3f s\n", HashSeconds(bytes));
  std::printf("  uninstall list save      %.3f s (%s)\n", t3 - t2, same_thread ? "same thread" : "worker thread");
  std::printf("  progress window down     %.3f s\n", t4 - t3);
  std::printf("  finishing window up      %.3f s\n", t5 - t4);
  std::printf("  finishing pass           %.3f s (%ld backups left)\n", t6 - t5, static_cast<long>(left));
  std::printf("  finishing window down    %.3f s\n", t7 - t6);
  std::printf("  final message box        %.3f s (up, painted, closed)\n", t8 - t7);
  return 0;
}
