// The whole program on a real package: starts update.exe from the folder
// given, presses the start button of its confirmation and measures the time
// until its final message. Prints "run <seconds> s" and the message.
#include <windows.h>

#include <cstdio>
#include <string>

#include "test_support.h"
#include "ui/resources/resource_ids.h"
#include "window_driver.h"

static const char kWindowTitle[] = "lumerant_qen　インストール";
static const char kBoxCaption[] = "インストール";

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
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  PressButton(confirm, IDOK);
  HWND box = WaitForDialogWithControl(process.pid, kBoxCaption, 0xFFFF, 3600 * 1000);
  QueryPerformanceCounter(&end);
  if (box == nullptr) {
    std::printf("bench_run: no final message\n");
    KillProcess(process);
    return 1;
  }
  std::string text = ReadMessageBox(box).text;
  PressButton(box, IDOK);
  WaitForExit(process, 60000);
  KillProcess(process);
  double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
  std::printf("run %.3f s\n", seconds);
  return text == "インストールが終了しました。" ? 0 : 1;
}
