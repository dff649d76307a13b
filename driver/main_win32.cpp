// Entry point of update.exe: start-up, then the run.
#include <windows.h>

#include "driver/run_win32.h"
#include "driver/startup_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (RunStartup() == kStartupQuit)
    return 0;
  return RunUpdate(instance);
}
