// Sample installs for the end-to-end tests.
#include "e2e_support.h"

#include <gtest/gtest.h>

#include <vector>

#include "list_bytes.h"
#include "package_bytes.h"

GameInstall::GameInstall(const std::string &program_folder) {
  game = root.Join("game");
  program = root.Join(program_folder);
  CreateDirectoryA(game.c_str(), nullptr);
  CreateDirectoryA(program.c_str(), nullptr);
  CopyFileA(ProgramPath().c_str(), (program + "\\update.exe").c_str(), FALSE);
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
    list += ListEntry("F", Game(file.first));
  }
  AddGameFile("uinst.dat", list + kListEnd);
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
  ForEachName(folder, [&](const std::string &name, bool is_folder) {
    if (is_folder)
      CollectFiles(folder + "\\" + name, prefix + name + "\\", files);
    else
      (*files)[prefix + name] = ReadBytes(folder + "\\" + name);
  });
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

bool StartAndPressStart(const GameInstall &install, Process *process) {
  *process = StartUpdate(install);
  HWND confirm = WaitForConfirm(process->pid);
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
  return AnswerBox(process->pid);
}

void ExpectExitsCleanly(Process &process) {
  EXPECT_EQ(0u, WaitForExit(process, 30000));
  KillProcess(process);
}

MessageBoxView RunToTheEnd(const GameInstall &install) {
  Process process;
  MessageBoxView view = StartConfirmAndAnswer(install, &process);
  ExpectExitsCleanly(process);
  return view;
}

std::map<std::string, std::string> SamplePackageFiles() {
  return {{"a.bin", "new a"}, {"new.txt", "hello"}, {"sub\\x.bin", PatternBytes(3 << 20, 5)}};
}

std::map<std::string, std::string> SampleRunInstalled(const GameInstall &install, const std::string &old_list) {
  std::map<std::string, std::string> files = SamplePackageFiles();
  files["keep.txt"] = "untouched";
  files["uinst.dat"] = old_list + ListEntry("F", install.Game("new.txt")) + ListEntry("D", install.Game("sub")) +
                       ListEntry("F", install.Game("sub\\x.bin")) + kListEnd;
  return files;
}

std::string AnswerBoxesUpToTheConfirmation(const Process &process, int confirm_button) {
  std::string said;
  for (DWORD begun = GetTickCount(); GetTickCount() - begun < 30000;) {
    if (HWND box = WaitForBox(process.pid, 0)) {
      std::string text = ReadMessageBox(box).text;
      said += (said.empty() ? "" : " / ") + text;
      PressButton(box, text.find("よろしいですか") != std::string::npos ? IDYES : IDOK);
      WaitForWindowGone(box, 10000);
    }
    if (HWND confirm = WaitForConfirm(process.pid, 50)) {
      PressButton(confirm, confirm_button);
      break;
    }
    if (WaitForSingleObject(process.handle, 0) == WAIT_OBJECT_0)
      break;
  }
  return said;
}
