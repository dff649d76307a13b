// Helpers of the programs that test under Wine.
#include "test_support.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

std::string BuildPath(const std::string &relative) { return std::string(UPD_BUILD_DIR_WINDOWS) + "\\" + relative; }

std::string ProgramPath() { return BuildPath("driver\\update.exe"); }

TempDir::TempDir() {
  static unsigned serial = 0;
  char base[MAX_PATH];
  GetTempPathA(sizeof base, base);
  for (;;) {
    char name[MAX_PATH];
    snprintf(name, sizeof name, "%supdtest_%lu_%u", base, GetCurrentProcessId(), ++serial);
    if (CreateDirectoryA(name, nullptr)) {
      path = name;
      return;
    }
  }
}

TempDir::~TempDir() { RemoveTree(path); }

std::string TempDir::Join(const std::string &name) const { return path + "\\" + name; }

bool WriteBytes(const std::string &path, const std::string &bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  size_t done = 0;
  bool ok = true;
  while (ok && done < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 24));
    DWORD written = 0;
    ok = WriteFile(file, bytes.data() + done, chunk, &written, nullptr) && written == chunk;
    done += written;
  }
  CloseHandle(file);
  return ok;
}

std::string ReadBytes(const std::string &path, bool *ok) {
  std::string bytes;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (ok)
    *ok = file != INVALID_HANDLE_VALUE;
  if (file == INVALID_HANDLE_VALUE)
    return bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
    bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

bool FileExists(const std::string &path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirExists(const std::string &path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void ForEachName(const std::string &folder, const std::function<void(const std::string &name, bool is_folder)> &visit) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return;
  do {
    std::string name = found.cFileName;
    if (name != "." && name != "..")
      visit(name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

void RemoveTree(const std::string &path) {
  ForEachName(path, [&path](const std::string &name, bool is_folder) {
    std::string child = path + "\\" + name;
    SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (is_folder)
      RemoveTree(child);
    else
      DeleteFileA(child.c_str());
  });
  RemoveDirectoryA(path.c_str());
}

std::vector<std::string> FolderNames(const std::string &folder) {
  std::vector<std::string> names;
  ForEachName(folder, [&names](const std::string &name, bool) { names.push_back(name); });
  return names;
}

std::string PatternBytes(size_t n, unsigned seed) {
  std::string bytes(n, '\0');
  unsigned state = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    state = state * 1103515245u + 12345u;
    bytes[i] = static_cast<char>(state >> 16);
  }
  return bytes;
}

static const char kGameKey[] = "Software\\TALVERA\\lumerant_qen";

void SetDataDirRaw(const void *bytes, DWORD size, DWORD type, bool wide) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kGameKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  if (wide)
    RegSetValueExW(key, L"DataDir", 0, type, static_cast<const BYTE *>(bytes), size);
  else
    RegSetValueExA(key, "DataDir", 0, type, static_cast<const BYTE *>(bytes), size);
  RegCloseKey(key);
}

void SetDataDir(const std::string &value) {
  SetDataDirRaw(value.c_str(), static_cast<DWORD>(value.size() + 1), REG_SZ);
}

void DeleteDataDir() { RegDeleteKeyA(HKEY_CURRENT_USER, kGameKey); }

Process StartProcess(const std::string &command_line, const std::string &folder) {
  Process process;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  std::vector<char> line(command_line.begin(), command_line.end());
  line.push_back('\0');
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
    CloseHandle(info.hThread);
    process.handle = info.hProcess;
    process.pid = info.dwProcessId;
  }
  return process;
}

DWORD WaitForExit(Process &process, DWORD timeout_ms) {
  if (process.handle == nullptr)
    return STILL_ACTIVE;
  if (WaitForSingleObject(process.handle, timeout_ms) != WAIT_OBJECT_0)
    return STILL_ACTIVE;
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process.handle, &code);
  return code;
}

void KillProcess(Process &process) {
  if (process.handle == nullptr)
    return;
  TerminateProcess(process.handle, 1);
  WaitForSingleObject(process.handle, 5000);
  CloseHandle(process.handle);
  process.handle = nullptr;
}

// Starts the helper with a fresh ready event and waits for its signal.
static Process StartHelper(const std::string &what, const std::string &argument) {
  static unsigned serial = 0;
  char event_name[64];
  snprintf(event_name, sizeof event_name, "upd_test_ready_%lu_%u", GetCurrentProcessId(), ++serial);
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, event_name);
  Process process = StartProcess("\"" + BuildPath("tests\\support\\testhelper.exe") + "\" " + what + " " + event_name +
                                 " \"" + argument + "\"");
  HANDLE waits[2] = {ready, process.handle};
  if (process.handle == nullptr || WaitForMultipleObjects(2, waits, FALSE, 10000) != WAIT_OBJECT_0)
    KillProcess(process);
  CloseHandle(ready);
  return process;
}

Process StartMutexHolder(const std::string &name) { return StartHelper("mutex", name); }

Process StartFileHolder(const std::string &path) { return StartHelper("file", path); }

std::string UnixPathOf(const std::string &windows_path) {
  typedef char *(CDECL * UnixFileName)(const WCHAR *);
  // Through void *: the exported function's real type is not FARPROC's.
  UnixFileName convert = reinterpret_cast<UnixFileName>(
      reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  WCHAR wide[MAX_PATH];
  if (convert == nullptr || MultiByteToWideChar(CP_ACP, 0, windows_path.c_str(), -1, wide, MAX_PATH) == 0)
    return "";
  char *unix_path = convert(wide);
  if (unix_path == nullptr)
    return "";
  std::string result = unix_path;
  HeapFree(GetProcessHeap(), 0, unix_path);
  return result;
}

static std::string ShellQuoted(const std::string &text) {
  std::string quoted = "'";
  for (char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

int RunUnixCommand(const std::string &command) {
  TempDir work;
  std::string unix_work = UnixPathOf(work.path);
  if (unix_work.empty())
    return -1;
  std::string status = ShellQuoted(unix_work + "/status");
  std::string script = "(\n" + command + "\n)\necho $? >" + status + ".part && mv " + status + ".part " + status + "\n";
  if (!WriteBytes(work.Join("script.sh"), script))
    return -1;
  // A Linux program gets no usable process handles; only success counts.
  // They are not even safe to close: the values may name handles of this
  // process (closing one broke every later named object of the tests).
  std::string command_line = "Z:\\bin\\sh \"" + unix_work + "/script.sh\"";
  std::vector<char> line(command_line.begin(), command_line.end());
  line.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return -1;
  for (int waited = 0; waited < 20000 && !FileExists(work.Join("status")); waited += 10)
    Sleep(10);
  bool ok = false;
  std::string code = ReadBytes(work.Join("status"), &ok);
  return ok && !code.empty() ? atoi(code.c_str()) : -1;
}

bool RunningAsRoot() {
  static const int status = RunUnixCommand("test \"$(id -u)\" -eq 0");
  if (status != 0 && status != 1)
    ADD_FAILURE() << "could not ask the Linux side for its user (status " << status << ")";
  return status == 0;
}

bool SetImmutable(const std::string &windows_path, bool immutable) {
  std::string unix_path = UnixPathOf(windows_path);
  return !unix_path.empty() &&
         RunUnixCommand(std::string("chattr ") + (immutable ? "+i " : "-i ") + ShellQuoted(unix_path)) == 0;
}

SmallDrive::SmallDrive(const std::string &windows_folder, unsigned kib, unsigned files) : folder(windows_folder) {
  CreateDirectoryA(folder.c_str(), nullptr);
  std::string unix_folder = UnixPathOf(folder);
  std::string options = "size=" + std::to_string(kib) + "k";
  // One inode is the root of the file system itself.
  if (files != 0)
    options += ",nr_inodes=" + std::to_string(files + 1);
  mounted = !unix_folder.empty() &&
            RunUnixCommand("mount -t tmpfs -o " + options + " tmpfs " + ShellQuoted(unix_folder)) == 0;
}

SmallDrive::~SmallDrive() {
  if (mounted)
    RunUnixCommand("umount " + ShellQuoted(UnixPathOf(folder)) + " || umount -l " + ShellQuoted(UnixPathOf(folder)));
}
