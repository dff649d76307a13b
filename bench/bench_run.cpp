// The whole program on a real package: starts the update.exe of the folder
// given, presses the start button of its confirmation and measures the time
// until its final message appears, then reads the process's peak working
// set while it still stands. Prints "run <seconds> s peak <KiB> KiB".
#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <string>

#include "test_support.h"
#include "ui/resources/resource_ids.h"
#include "window_driver.h"

static const char kWindowTitle[] = "lumerant_qen　インストール";
static const char kBoxCaption[] = "インストール";
static const char kFinishedMessage[] = "インストールが終了しました。";
enum { kMessageTextControl = 0xFFFF, kPollMilliseconds = 2 };

static double SecondsBetween(const LARGE_INTEGER &start, const LARGE_INTEGER &end) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The window driver's wait polls every 20 ms; the end of a run of about a
// second needs a finer look. The look must also be cheap: every question
// about another process's window is a request to the one Wine server that
// the measured program waits on for each file it opens and each message it
// pumps, so only message boxes with the box's caption are looked at (the
// server lists windows of one class in one request), once shown: a box is
// found before its text is set.
static HWND WaitForFinalMessage(DWORD pid, DWORD timeout_ms) {
  DWORD start = GetTickCount();
  for (;;) {
    for (HWND box = nullptr; (box = FindWindowExA(nullptr, box, "#32770", kBoxCaption)) != nullptr;) {
      DWORD owner = 0;
      GetWindowThreadProcessId(box, &owner);
      if (owner == pid && IsWindowVisible(box) && GetDlgItem(box, kMessageTextControl) != nullptr)
        return box;
    }
    if (GetTickCount() - start > timeout_ms)
      return nullptr;
    Sleep(kPollMilliseconds);
  }
}

static unsigned long PeakWorkingSetKiB(HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(process, &counters, sizeof counters))
    return 0;
  return static_cast<unsigned long>(counters.PeakWorkingSetSize / 1024);
}

int main(int argc, char **argv) {
  if (argc != 2) {
    std::printf("usage: bench_run PROGRAM_FOLDER\n");
    return 2;
  }
  std::string folder = argv[1];
  Process process = StartProcess("\"" + folder + "\\update.exe\"", folder);
  HWND confirm = WaitForDialogWithControl(process.pid, kWindowTitle, IDC_SELECTDIR_EDIT, 60000);
  if (confirm == nullptr) {
    std::printf("bench_run: no confirmation dialog\n");
    KillProcess(process);
    return 1;
  }
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  PressButton(confirm, IDOK);
  HWND box = WaitForFinalMessage(process.pid, 3600 * 1000);
  QueryPerformanceCounter(&end);
  if (box == nullptr) {
    std::printf("bench_run: no final message\n");
    KillProcess(process);
    return 1;
  }
  unsigned long peak_kib = PeakWorkingSetKiB(process.handle);
  std::string text = ReadMessageBox(box).text;
  PressButton(box, IDOK);
  WaitForExit(process, 60000);
  KillProcess(process);
  std::printf("run %.3f s peak %lu KiB\n", SecondsBetween(start, end), peak_kib);
  if (text != kFinishedMessage) {
    std::printf("bench_run: the final message is not the finished one: %s\n", text.c_str());
    return 1;
  }
  return 0;
}
