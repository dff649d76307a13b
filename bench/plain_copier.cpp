// The whole-run benchmark's baselines: a plain Win32 copy of a package's
// entries, what any Win32 program pays under the same Wine. Reads the
// package directory with the program's loader, then for each entry creates
// the file (and its folder when missing) and copies its bytes in 1 MiB
// chunks: no backup, no journal, no data check, no flush. With --window it
// also shows a window with a progress bar, sends the bar its percentage and
// pumps the window's messages after every chunk, on its one thread: what
// any one-thread Win32 program with a live progress window pays there. With
// --flush it then makes the copy durable as a careful one-thread program
// does: every file written is flushed in turn, then every folder it wrote
// into, so that a power cut after its end loses nothing.
// Prints "copy <seconds> s <files> files peak <KiB> KiB, flushes <seconds> s",
// timed from its start to its last close (the flushes' share apart).
#include <windows.h>

#include <commctrl.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "archive/loader_win32.h"
#include "common/cp932.h"
#include "common/text.h"

static const DWORD kChunkBytes = 1048576;
enum { kCopierPathBytes = 2048 };

static unsigned char Chunk[kChunkBytes];

// The live window, when there is one, and how far the copy has got.
static HWND Window = nullptr;
static HWND Bar = nullptr;
static uint64_t TotalBytes = 0;
static uint64_t DoneBytes = 0;

// With --flush: what was written, flushed once the copy is done.
static bool FlushWhenDone = false;
static std::vector<std::string> WrittenFiles;
static std::set<std::string> WrittenFolders;

static void OpenLiveWindow() {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  WNDCLASSA window_class = {};
  window_class.lpfnWndProc = DefWindowProcA;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = "plain_copier";
  RegisterClassA(&window_class);
  Window = CreateWindowExA(0, "plain_copier", "copy", WS_OVERLAPPED | WS_CAPTION, 100, 100, 320, 80, nullptr, nullptr,
                           window_class.hInstance, nullptr);
  Bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 10, 10, 290, 20, Window, nullptr,
                        window_class.hInstance, nullptr);
  ShowWindow(Window, SW_SHOW);
}

// After every chunk, as a one-thread program with a progress window does.
static void ShowProgressAndPump(DWORD bytes) {
  if (Window == nullptr)
    return;
  DoneBytes += bytes;
  WPARAM percent = TotalBytes == 0 ? 100 : static_cast<WPARAM>(DoneBytes * 100 / TotalBytes);
  SendMessageA(Bar, PBM_SETPOS, percent, 0);
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

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
    ShowProgressAndPump(written);
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
  if (FlushWhenDone) {
    WrittenFiles.push_back(path);
    long separator = FindLastSeparator(path);
    WrittenFolders.insert(std::string(path, separator > 0 ? static_cast<size_t>(separator) : 0));
  }
  return CloseHandle(file) && copied;
}

static bool FlushPath(const std::string &path, DWORD flags) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE)
    return false;
  bool flushed = FlushFileBuffers(handle) != 0;
  return CloseHandle(handle) && flushed;
}

// Files first, then the folders that name them.
static bool FlushWritten() {
  for (const std::string &file : WrittenFiles)
    if (!FlushPath(file, 0))
      return false;
  for (const std::string &folder : WrittenFolders)
    if (!FlushPath(folder, FILE_FLAG_BACKUP_SEMANTICS))
      return false;
  return true;
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
  bool live_window = false, usage = argc < 3;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--window") == 0)
      live_window = true;
    else if (std::strcmp(argv[i], "--flush") == 0)
      FlushWhenDone = true;
    else
      usage = true;
  }
  if (usage) {
    std::fprintf(stderr, "usage: plain_copier PACKAGE_FOLDER TARGET_FOLDER [--window] [--flush]\n");
    return 2;
  }
  int32_t count = LoadArchiveDirectory(argv[1]);
  char package_path[kCopierPathBytes];
  if (count == 0 || BuildPackagePath(package_path, sizeof package_path, argv[1]) != 0) {
    std::fprintf(stderr, "plain_copier: can't load the package in %s\n", argv[1]);
    return 1;
  }
  ArchiveEntry entry;
  for (int32_t i = 0; GetArchiveEntry(i, &entry) == i; ++i)
    TotalBytes += entry.size;
  if (live_window)
    OpenLiveWindow();
  HANDLE package = CreateFileA(package_path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  int32_t n = 0;
  while (package != INVALID_HANDLE_VALUE && GetArchiveEntry(n, &entry) == n && CopyEntry(package, argv[2], entry))
    ++n;
  if (package != INVALID_HANDLE_VALUE)
    CloseHandle(package);
  // The target names the folders made in it.
  WrittenFolders.insert(argv[2]);
  double copied_seconds = SecondsSince(start);
  bool flushed = n != count || !FlushWhenDone || FlushWritten();
  if (Window != nullptr)
    DestroyWindow(Window);
  double seconds = SecondsSince(start);
  if (!flushed) {
    std::fprintf(stderr, "plain_copier: a flush failed\n");
    return 1;
  }
  if (n != count) {
    std::fprintf(stderr, "plain_copier: entry %ld failed\n", static_cast<long>(n));
    return 1;
  }
  std::printf("copy %.3f s %ld files peak %lu KiB, flushes %.3f s\n", seconds, static_cast<long>(n), PeakKiB(),
              FlushWhenDone ? seconds - copied_seconds : 0.0);
  return 0;
}
