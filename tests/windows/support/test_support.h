// Helpers of the Windows tests: temporary folders, whole files, the game's
// registry key, and other processes.
#pragma once
#include <windows.h>

#include <string>

// Path of a file of the Windows build tree, as Wine sees it.
std::string BuildPath(const std::string &relative);

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
// A string of n bytes following a pattern that differs with seed.
std::string PatternBytes(size_t n, unsigned seed);

// The game's registry key: HKCU\Software\TALVERA\lumerant_qen, value DataDir.
void SetDataDir(const std::string &value);
void SetDataDirRaw(const void *bytes, DWORD size, DWORD type);
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
