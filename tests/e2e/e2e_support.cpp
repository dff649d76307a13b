// Sample installs for the end-to-end tests.
#include "e2e_support.h"

#include <gtest/gtest.h>

#include <vector>

#include "package_bytes.h"
#include "ui/resources/resource_ids.h"

const char kBoxCaption[] = "インストール";
const char kWindowTitle[] = "lumerant_qen　インストール";

GameInstall::GameInstall(const std::string &program_folder) {
  game = root.Join("game");
  program = root.Join(program_folder);
  CreateDirectoryA(game.c_str(), nullptr);
  CreateDirectoryA(program.c_str(), nullptr);
  CopyFileA(BuildPath("driver\\update.exe").c_str(), (program + "\\update.exe").c_str(), FALSE);
  SetDataDir(game);
}

GameInstall::~GameInstall() {
  for (HANDLE process : started) {
    if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process, 1);
      WaitForSingleObject(process, 5000);
    }
    CloseHandle(process);
  }
  DeleteDataDir();
}

static void MakeParents(const std::string &path) {
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '\\' && i > 2)
      CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
  }
}

void GameInstall::AddGameFile(const std::string &relative, const std::string &bytes) {
  std::string path = game + "\\" + relative;
  MakeParents(path);
  WriteBytes(path, bytes);
}

void GameInstall::AddGameWithList(const std::map<std::string, std::string> &files) {
  std::string list;
  for (const auto &file : files) {
    AddGameFile(file.first, file.second);
    list += "F" + Game(file.first) + std::string(1, '\0');
  }
  AddGameFile("uinst.dat", list + std::string(1, '\0'));
}

void GameInstall::MakePackage(const std::map<std::string, std::string> &files) {
  std::vector<PackageItem> items;
  for (const auto &file : files)
    items.push_back({file.first, file.second});
  WriteRawPackage(PackageBytes(items));
}

void GameInstall::WriteRawPackage(const std::string &bytes) { WriteBytes(program + "\\UPDATE.DAT", bytes); }

static void CollectFiles(const std::string &folder, const std::string &prefix,
                         std::map<std::string, std::string> *files) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE)
    return;
  do {
    std::string name = found.cFileName;
    if (name == "." || name == "..")
      continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      CollectFiles(folder + "\\" + name, prefix + name + "\\", files);
    else
      (*files)[prefix + name] = ReadBytes(folder + "\\" + name);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

std::map<std::string, std::string> GameInstall::Snapshot() const {
  std::map<std::string, std::string> files;
  CollectFiles(game, "", &files);
  return files;
}

Process StartUpdate(const GameInstall &install) {
  Process process = StartProcess("\"" + install.program + "\\update.exe\"", install.program);
  HANDLE own = nullptr;
  if (process.handle &&
      DuplicateHandle(GetCurrentProcess(), process.handle, GetCurrentProcess(), &own, 0, FALSE, DUPLICATE_SAME_ACCESS))
    install.started.push_back(own);
  return process;
}

HWND WaitForBox(const Process &process, DWORD timeout_ms) {
  return WaitForDialogWithControl(process.pid, kBoxCaption, 0xFFFF, timeout_ms);
}

HWND WaitForConfirm(const Process &process) {
  return WaitForDialogWithControl(process.pid, kWindowTitle, IDC_SELECTDIR_EDIT, 20000);
}

HWND WaitForProgress(const Process &process) {
  return WaitForDialogWithControl(process.pid, kWindowTitle, IDC_PROGRESS_BAR, 20000);
}

MessageBoxView AnswerBox(const Process &process, int button) {
  HWND box = WaitForBox(process);
  EXPECT_NE(nullptr, box);
  if (box == nullptr)
    return MessageBoxView();
  MessageBoxView view = ReadMessageBox(box);
  PressButton(box, button ? button : (view.buttons.empty() ? IDOK : view.buttons.front()));
  WaitForWindowGone(box, 10000);
  return view;
}

bool StartAndPressStart(const GameInstall &install, Process *process) {
  *process = StartUpdate(install);
  HWND confirm = WaitForConfirm(*process);
  if (confirm == nullptr)
    return false;
  PressButton(confirm, IDOK);
  return true;
}

MessageBoxView StartConfirmAndAnswer(const GameInstall &install, Process *process) {
  if (!StartAndPressStart(install, process)) {
    ADD_FAILURE() << "no confirmation dialog";
    return MessageBoxView();
  }
  return AnswerBox(*process);
}

void ExpectExitsCleanly(Process &process) {
  EXPECT_EQ(0u, WaitForExit(process, 30000));
  KillProcess(process);
}
