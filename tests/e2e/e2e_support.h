// A sample game install and a copy of update.exe beside its package, in a
// temporary folder, and the means to run the program and read its boxes.
#pragma once
#include <windows.h>

#include <map>
#include <vector>
#include <string>

#include "test_support.h"
#include "window_driver.h"

extern const char kBoxCaption[];  // "インストール"
extern const char kWindowTitle[]; // the title every window of the program carries

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
  // installed in the order given by order (package names).
  void MakePackage(const std::map<std::string, std::string> &files);
  void WriteRawPackage(const std::string &bytes);
  // Every file under the game folder, relative name -> bytes.
  std::map<std::string, std::string> Snapshot() const;
};

// Starts update.exe from its folder.
Process StartUpdate(const GameInstall &install);

// Waits for the next message box of the process and reads it; the box stays.
HWND WaitForBox(const Process &process, DWORD timeout_ms = 20000);

// The confirmation dialog and the progress window of the process.
HWND WaitForConfirm(const Process &process);
HWND WaitForProgress(const Process &process);

// Reads the next message box, presses button (its first one when 0) and waits
// until it is gone.
MessageBoxView AnswerBox(const Process &process, int button = 0);

// Starts update.exe and presses the start button of its confirmation.
// false when no confirmation appeared.
bool StartAndPressStart(const GameInstall &install, Process *process);

// Starts update.exe, presses the start button of its confirmation and
// answers the first message box that follows with its first button.
MessageBoxView StartConfirmAndAnswer(const GameInstall &install, Process *process);

// Expects the process to end with 0 within 30 s; kills it otherwise.
void ExpectExitsCleanly(Process &process);
