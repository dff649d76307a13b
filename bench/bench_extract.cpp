// Times the extraction pass: extracts UPDATE.DAT of a folder into an empty
// folder with a hidden progress window, as the program does, and prints the
// bytes copied, the seconds taken and MiB/s on one line.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>

#include "archive/extract_win32.h"
#include "archive/loader_win32.h"
#include "common/text.h"
#include "common/run_state.h"
#include "journal/journal.h"
#include "ui/progress_dialog_win32.h"
#include "ui/resources/resource_ids.h"

static HWND CreateProgressWindow() {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  HWND window = CreateWindowExA(0, "STATIC", "bench", WS_OVERLAPPEDWINDOW, 0, 0, 300, 100, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 0, 0, 200, 20, window,
                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PROGRESS_BAR)), GetModuleHandleA(nullptr), nullptr);
  return window;
}

static uint64_t PackageDataBytes() {
  uint64_t total = 0;
  ArchiveEntry entry;
  for (int32_t n = 0; GetArchiveEntry(n, &entry) == n; ++n)
    total += entry.size;
  return total;
}

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_extract PACKAGE_FOLDER EMPTY_TARGET_FOLDER\n");
    return 2;
  }
  if (CopyText(SourceFolder, sizeof SourceFolder, argv[1]) != 0 ||
      CopyText(TARGETDIR, sizeof TARGETDIR, argv[2]) != 0 || LoadArchiveDirectory(SourceFolder) == 0) {
    std::fprintf(stderr, "bench_extract: can't load %s\\%s\n", argv[1], kPackageFileName);
    return 1;
  }
  HWND window = CreateProgressWindow();
  WindowProgress progress(window);
  uint64_t bytes = PackageDataBytes();
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  int result = ExtractAll(&progress);
  QueryPerformanceCounter(&end);
  if (result != 0 || InstallStatus != kStatusRunning) {
    std::fprintf(stderr, "bench_extract: extraction failed: %s\n", ErrorDetail);
    return 1;
  }
  double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  std::printf("%llu bytes %d files %.3f s %.1f MiB/s\n", static_cast<unsigned long long>(bytes), JournalCount(),
              seconds, static_cast<double>(bytes) / 1048576.0 / seconds);
  DestroyWindow(window);
  return 0;
}
