// Start-up and discovery of the destination.
#include "driver/startup_win32.h"

#include <windows.h>

#include <cstring>

#include "archive/loader_win32.h"
#include "driver/recovery_win32.h"
#include "common/confined_win32.h"
#include "common/cp932.h"
#include "common/failure_messages.h"
#include "common/file_names.h"
#include "common/run_state.h"
#include "common/text.h"
#include "ui/window_helpers_win32.h"

const char kGameMutexName[] = "LUMERANT_QEN_EX";
const char kInstanceMutexName[] = "ZSETUP_MUTEX";

static const char kDataDirKey[] = "Software\\TALVERA\\lumerant_qen";
static const WCHAR kDataDirValue[] = L"DataDir";

static const char kNotInstalledMessage[] =
    "lumerant QEN//Tessar:Vondrakeがインストールされていません。" INSTALL_ENDS_LINE;
static const char kPackageUnreadableMessage[] = PACKAGE_FILE_NAME "の読み込みに失敗しました。" INSTALL_ENDS_LINE;

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

// The value as stored (UTF-16), converted to the ANSI code page only when
// every character has its own form there: a look-alike (é read as e) would
// name another folder. Empty when it can't be read, is too long or has no
// exact ANSI form.
static void ReadExactDataDir(HKEY key) {
  WCHAR wide[kPathBytes];
  DWORD size = sizeof wide;
  DWORD type = REG_SZ;
  if (RegQueryValueExW(key, kDataDirValue, nullptr, &type, reinterpret_cast<BYTE *>(wide), &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return;
  size_t count = size / sizeof(WCHAR);
  if (count < kPathBytes)
    wide[count] = L'\0';
  else if (wide[kPathBytes - 1] != L'\0')
    return; // fills the buffer without a terminator: too long to use
  BOOL inexact = FALSE;
  int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, DataDirectory, sizeof DataDirectory, nullptr,
                                  &inexact);
  if (bytes == 0 || inexact)
    DataDirectory[0] = '\0';
}

int ReadDataDir() {
  DataDirectory[0] = '\0';
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kDataDirKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    ReadExactDataDir(key);
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

// Notes the program's folder and makes it the current directory. A path the
// call had to cut names no folder: SourceFolder stays empty, and the package
// is then missing rather than looked for anywhere else.
static void FindSourceFolder() {
  SourceFolder[0] = '\0';
  char program[kPathBytes];
  DWORD length = GetModuleFileNameA(nullptr, program, sizeof program);
  if (length == 0 || length >= sizeof program || CutAtLastSeparator(program) != 0)
    return;
  SetCurrentDirectoryA(program);
  CopyText(SourceFolder, sizeof SourceFolder, program);
}

static bool IsSignatureRefusal(PackageError error) {
  return error == kPackageNotSigned || error == kPackageSignedByOtherKey || error == kPackageBadSignature;
}

// A package the publisher's key does not confirm is named, so that the
// player knows which file to get again.
static void ShowPackageRefusal() {
  char path[kPathBytes];
  if (!IsSignatureRefusal(LastPackageError()) || BuildPackagePath(path, sizeof path, SourceFolder) != 0) {
    ShowMessage(nullptr, kPackageUnreadableMessage, MB_ICONINFORMATION);
    return;
  }
  char message[kDetailBytes];
  FormatText(message, sizeof message, kPackageUnconfirmedTemplate, path);
  ShowMessage(nullptr, message, MB_ICONWARNING);
}

StartupResult RunStartup() {
  TrustNoRedirection();
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
  if (RecoverInterruptedRun(GetModuleHandleA(nullptr)) == kRecoveryFailed)
    return kStartupQuit;
  if (LoadArchiveDirectory(SourceFolder) == 0) {
    ShowPackageRefusal();
    return kStartupQuit;
  }
  DeriveDestinations();
  return kStartupContinue;
}
