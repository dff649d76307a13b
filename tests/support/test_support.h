// Helpers of the programs that test under Wine: the program's state, the
// build tree, temporary folders, whole files, the game's registry key, other
// processes, and the Linux side (paths, commands, root-only set-ups).
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// ResetProgramState(), which every test that runs program code calls.
#include "driver/program_state_win32.h"

// Path of a file of the Windows build tree, as Wine sees it.
std::string BuildPath(const std::string &relative);
// update.exe of the build tree.
std::string ProgramPath();

// A fresh empty folder; removed with its content at the end of its scope.
struct TempDir {
  std::string path;
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  std::string Join(const std::string &name) const;
};

bool WriteBytes(const std::string &path, const std::string &bytes);
// The whole file; *ok (when given) tells whether it could be read.
std::string ReadBytes(const std::string &path, bool *ok = nullptr);
bool FileExists(const std::string &path);
bool DirExists(const std::string &path);
void RemoveTree(const std::string &path);
// Each name in the folder, without "." and "..", in the order the system
// gives, and whether it is a folder.
void ForEachName(const std::string &folder, const std::function<void(const std::string &name, bool is_folder)> &visit);
std::vector<std::string> FolderNames(const std::string &folder);
// A string of n bytes following a pattern that differs with seed.
std::string PatternBytes(size_t n, unsigned seed);

// The game's registry key: HKCU\Software\TALVERA\lumerant_qen, value DataDir.
void SetDataDir(const std::string &value);
// wide: the bytes are UTF-16 and stored as they are.
void SetDataDirRaw(const void *bytes, DWORD size, DWORD type, bool wide = false);
void DeleteDataDir(); // removes the whole key

// Another process, started from a command line.
struct Process {
  HANDLE handle = nullptr;
  DWORD pid = 0;
};
Process StartProcess(const std::string &command_line, const std::string &folder = "");
// Exit code, or STILL_ACTIVE when it did not end within the time.
DWORD WaitForExit(Process &process, DWORD timeout_ms);
void KillProcess(Process &process);

// Starts the test helper holding the named mutex; returns once it holds it.
Process StartMutexHolder(const std::string &name);
// Starts the test helper holding the file open for reading and writing
// without share-delete; returns once it holds it.
Process StartFileHolder(const std::string &path);

// The Linux path of a Windows path, as Wine maps it; empty when it has none.
std::string UnixPathOf(const std::string &windows_path);

// Runs a shell command on the Linux side (as the user Wine runs as) and
// waits for it. Its exit status, or -1 when it could not be started or did
// not end within 20 s. Wine gives no process handle to wait on for a Linux
// program, so the command reports its end through a file.
int RunUnixCommand(const std::string &command);

// Whether Wine runs as root on the Linux side, as mounting a file system and
// chattr need. Not knowing is a test failure.
bool RunningAsRoot();
// Skips the test, saying why, unless it runs as root; the first statement of
// a test that mounts a file system or makes a file immutable.
#define SKIP_UNLESS_ROOT(why)                                                                                          \
  if (RunningAsRoot()) {                                                                                               \
  } else                                                                                                               \
    GTEST_SKIP() << "needs root: " << why

// chattr +i / -i on the file (needs root): running as root, Wine ignores
// read-only attributes and modes, so this is how a test makes a file
// unwritable.
bool SetImmutable(const std::string &windows_path, bool immutable);

// A tmpfs of kib KiB mounted on a folder it creates (needs root): a small
// drive to fill up, with room for only `files` files when that is not 0.
// Unmounted at the end of its scope.
struct SmallDrive {
  std::string folder;
  bool mounted = false;
  SmallDrive(const std::string &windows_folder, unsigned kib, unsigned files = 0);
  ~SmallDrive();
  SmallDrive(const SmallDrive &) = delete;
  SmallDrive &operator=(const SmallDrive &) = delete;
};
