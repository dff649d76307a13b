// Walks update.exe through its windows for the headless demo: takes a
// picture of every window, answers the confirmation with its start button and
// every message with OK, and prints what the program said.
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>

#include "test_support.h"
#include "ui/resources/resource_ids.h"
#include "window_driver.h"

static std::string ToUtf8(const std::string &cp932) {
  int wide_length = MultiByteToWideChar(932, 0, cp932.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(wide_length > 0 ? wide_length : 1), L'\0');
  MultiByteToWideChar(932, 0, cp932.c_str(), -1, &wide[0], wide_length);
  int length = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(length > 0 ? length : 1), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &utf8[0], length, nullptr, nullptr);
  utf8.resize(strlen(utf8.c_str()));
  return utf8;
}

static void Say(const std::string &utf8) {
  std::string line = utf8 + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

static std::string Flat(std::string text) {
  for (char &c : text) {
    if (c == '\r' || c == '\n')
      c = ' ';
  }
  return text;
}

// On the progress window the player asks to cancel, takes a picture of the
// question, and thinks better of it: the copy waits meanwhile.
static void AskToCancelThenGoOn(HWND progress, DWORD pid, const std::string &picture) {
  PressButton(progress, IDCANCEL);
  HWND question = WaitForDialogWithControl(pid, "インストール", 0xFFFF, 5000);
  // The copy may be over before the press arrives: the box is then the
  // final message, answered as any other.
  if (question == nullptr || ReadMessageBox(question).text != "インストールを中止しますか？")
    return;
  Sleep(300);
  SaveWindowImage(progress, picture + "-progress.bmp");
  SaveWindowImage(question, picture + "-question.bmp");
  Say("demo: message: " + ToUtf8(Flat(ReadMessageBox(question).text)) + " (answering No)");
  PressButton(question, IDNO);
  WaitForWindowGone(question, 5000);
}

// Answers one window the way a player who wants the update would. Returns
// false when the window was gone before its picture could be taken: one only
// glimpsed takes no number, so that the pictures keep theirs from run to run.
static bool Answer(HWND window, DWORD pid, const std::string &picture) {
  if (GetDlgItem(window, IDC_PROGRESS_BAR)) {
    Say("demo: progress window \"" + ToUtf8(WindowText(window)) + "\"");
    AskToCancelThenGoOn(window, pid, picture);
    return true;
  }
  Sleep(300); // let it paint before the picture
  if (!SaveWindowImage(window, picture + ".bmp") && !IsWindow(window)) {
    Say("demo: a window closed before its picture could be taken");
    return false;
  }
  if (GetDlgItem(window, 0xFFFF)) {
    MessageBoxView box = ReadMessageBox(window);
    Say("demo: message: " + ToUtf8(Flat(box.text)));
    PressButton(window, box.buttons.empty() ? IDOK : box.buttons.front());
  } else if (GetDlgItem(window, IDOK)) {
    Say("demo: window \"" + ToUtf8(WindowText(window)) + "\": pressing its start button");
    PressButton(window, IDOK);
  } else {
    Say("demo: window \"" + ToUtf8(WindowText(window)) + "\"");
  }
  return true;
}

int main(int argc, char **argv) {
  if (argc != 3) {
    Say("usage: demo_driver PROGRAM_FOLDER PICTURE_FOLDER");
    return 2;
  }
  std::string folder = argv[1], pictures = argv[2];
  CreateDirectoryA(pictures.c_str(), nullptr);
  Process process = StartProcess("\"" + folder + "\\update.exe\"", folder);
  if (process.handle == nullptr) {
    Say("demo: update.exe could not be started");
    return 1;
  }
  std::set<HWND> seen;
  int numbered = 0;
  while (WaitForSingleObject(process.handle, 10) == WAIT_TIMEOUT) {
    for (HWND window : DialogsOf(process.pid)) {
      if (!seen.insert(window).second)
        continue;
      char name[64];
      snprintf(name, sizeof name, "\\demo-%02d", numbered + 1);
      if (Answer(window, process.pid, pictures + name))
        ++numbered;
    }
  }
  DWORD code = 1;
  GetExitCodeProcess(process.handle, &code);
  if (seen.empty())
    Say("demo: update.exe ended after its start-up without opening a window");
  Say("demo: update.exe exited with " + std::to_string(code));
  return code == 0 ? 0 : 1;
}
