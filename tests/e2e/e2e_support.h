// A sample game install and a copy of update.exe beside its package, in a
// temporary folder, and the means to run the program and read its boxes.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "program_windows.h"
#include "test_support.h"

struct GameInstall {
  TempDir root;
  std::string game;    // the data directory (DataDir)
  std::string program; // folder of update.exe and UPDATE.DAT
  // Copies of update.exe started on this install; any still running at the
  // end (a test that stopped half-way) is killed, so that its instance
  // mutex does not turn the next test's program away.
  mutable std::vector<HANDLE> started;
  // program_folder is the name of the program's folder under the root.
  explicit GameInstall(const std::string &program_folder = "dist");
  ~GameInstall();
  // Puts a file into the game's folder (creating folders on the way).
  void AddGameFile(const std::string &relative, const std::string &bytes);
  // Puts the files into the game's folder with an uninstall list naming them.
  void AddGameWithList(const std::map<std::string, std::string> &files);
  // The path of a file in the game's folder.
  std::string Game(const std::string &relative) const { return game + "\\" + relative; }
  // Makes UPDATE.DAT beside the program from files (package name -> bytes),
  // entered in the order of their names.
  void MakePackage(const std::map<std::string, std::string> &files);
  void WriteRawPackage(const std::string &bytes);
  // Every file under the game folder, relative name -> bytes.
  std::map<std::string, std::string> Snapshot() const;
};

// The sample run: over a game of a.bin ("old a") and keep.txt ("untouched")
// whose list holds old_list, a package that replaces a.bin and creates
// new.txt and sub\x.bin (3 MiB, so that the copy takes a while).
std::map<std::string, std::string> SamplePackageFiles();
// Every file of that game once the package is installed: no backups left,
// the created paths listed after old_list in the order the run made them.
std::map<std::string, std::string> SampleRunInstalled(const GameInstall &install, const std::string &old_list);

// Starts update.exe from its folder.
Process StartUpdate(const GameInstall &install);

// Starts update.exe and presses the start button of its confirmation.
// false when no confirmation appeared.
bool StartAndPressStart(const GameInstall &install, Process *process);

// Starts update.exe, presses the start button of its confirmation and
// answers the first message box that follows with its first button.
MessageBoxView StartConfirmAndAnswer(const GameInstall &install, Process *process);

// Expects the process to end with 0 within 30 s; kills it otherwise.
void ExpectExitsCleanly(Process &process);

// A whole run: starts update.exe, presses start, answers the box that follows
// with its first button and expects the program to end cleanly.
MessageBoxView RunToTheEnd(const GameInstall &install);

// Answers every box the started program shows before its confirmation (a
// question with yes, anything else with its OK button), then presses
// confirm_button on the confirmation. What the boxes said, joined by " / ".
// Stops early when the program ends.
std::string AnswerBoxesUpToTheConfirmation(const Process &process, int confirm_button);

// A test with a sample game install of its own.
struct InstallRun : ::testing::Test {
  GameInstall install;
  std::string Game(const std::string &relative) const { return install.Game(relative); }
};
