// Start-up and discovery of the destination.
#include "driver/startup.h"

#include <windows.h>

#include <cstring>

#include "archive/loader.h"
#include "common/cp932.h"
#include "common/text.h"
#include "driver/state.h"
#include "ui/window_helpers.h"

const char kGameMutexName[] = "LUMERANT_QEN_EX";
const char kInstanceMutexName[] = "ZSETUP_MUTEX";

static const char kDataDirKey[] = "Software\\TALVERA\\lumerant_qen";
static const char kDataDirValue[] = "DataDir";

static const char kNotInstalledMessage[] =
    "lumerant QEN//Tessar:Vondrakeがインストールされていません。\nインストールを終了します。";
static const char kPackageUnreadableMessage[] = "UPDATE.DATの読み込みに失敗しました。\nインストールを終了します。";

char DataDirectory[260];

bool IsMutexPresent(const char *name) {
  HANDLE mutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name);
  if (mutex == nullptr)
    return false;
  CloseHandle(mutex);
  return true;
}

int CreateInstanceMutex(const char *name) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  if (mutex == nullptr)
    return -1;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return -1;
  }
  return 0; // held until the process ends
}

int ReadDataDir() {
  DataDirectory[0] = '\0';
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kDataDirKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    DWORD type = REG_SZ;
    DWORD size = sizeof DataDirectory;
    if (RegQueryValueExA(key, kDataDirValue, nullptr, &type, reinterpret_cast<BYTE *>(DataDirectory), &size) !=
        ERROR_SUCCESS)
      DataDirectory[0] = '\0';
    else if (size < sizeof DataDirectory)
      DataDirectory[size] = '\0';
    else if (DataDirectory[sizeof DataDirectory - 1] != '\0')
      DataDirectory[0] = '\0'; // fills the buffer without a terminator: too long to use
    RegCloseKey(key);
  }
  if (DataDirectory[0] == '\0')
    return 0;
  size_t length = std::strlen(DataDirectory);
  if (EndsWithSeparator(DataDirectory))
    DataDirectory[length - 1] = '\0';
  return 1;
}

int CutAtLastSeparator(char *path) {
  long separator = FindLastSeparator(path);
  if (separator < 0)
    return -1;
  path[separator] = '\0';
  return 0;
}

void DeriveDestinations() {
  CopyText(SELECTDIR, sizeof SELECTDIR, DataDirectory);
  CopyText(TARGETDIR, sizeof TARGETDIR, DataDirectory);
  CutAtLastSeparator(SELECTDIR); // no separator: SELECTDIR stays the data directory
}

// Notes the program's folder and makes it the current directory.
static void FindSourceFolder() {
  char program[kPathBytes];
  DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
  if (length == 0 || length >= sizeof program)
    program[0] = '\0';
  CutAtLastSeparator(program);
  SetCurrentDirectoryA(program);
  CopyText(SourceFolder, sizeof SourceFolder, program);
}

StartupResult RunStartup() {
  if (IsMutexPresent(kGameMutexName))
    return kStartupQuit;
  if (IsMutexPresent(kInstanceMutexName))
    return kStartupQuit;
  FindSourceFolder();
  if (CreateInstanceMutex(kInstanceMutexName) != 0)
    return kStartupQuit;
  if (ReadDataDir() == 0) {
    ShowMessage(nullptr, kNotInstalledMessage, MB_ICONINFORMATION);
    return kStartupQuit;
  }
  if (LoadArchiveDirectory(SourceFolder) == 0) {
    ShowMessage(nullptr, kPackageUnreadableMessage, MB_ICONINFORMATION);
    return kStartupQuit;
  }
  DeriveDestinations();
  return kStartupContinue;
}
