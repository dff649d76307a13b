// The program's message boxes found, read and answered as a player would, in
// another process (the real update.exe) or in this one (the program's code
// run by a window test), and pictures of its windows.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "program_texts.h"
#include "window_driver.h"

// How long a test waits for a window of the program before it gives up.
enum : DWORD { kWindowWaitMs = 20000 };

// A message box of the program (#32770, the box caption, a text) owned by
// process pid; with visible_only false also one being made and not shown yet.
HWND FindBox(DWORD pid, bool visible_only);
// The next visible box of the process; nullptr when none shows in time.
HWND WaitForBox(DWORD pid, DWORD timeout_ms = kWindowWaitMs);
// The confirmation dialog and the progress window of the process.
HWND WaitForConfirm(DWORD pid, DWORD timeout_ms = kWindowWaitMs);
HWND WaitForProgress(DWORD pid);

// Waits for the next box of the process, reads it, saves its picture when a
// name is given, presses button (its first one when 0) and waits until the
// box is gone. A box that does not show is a test failure (the view is then
// empty).
MessageBoxView AnswerBox(DWORD pid, int button = 0, const std::string &picture = "");

// Saves the window as screenshots/<name>.bmp in the build tree
// (scripts/screenshots.sh turns them into the PNG files under docs/).
void SaveShot(HWND window, const std::string &name);

// A helper thread that answers every box of the process with the next answer
// of its list (IDNO once the list is used up) and keeps what it saw.
class BoxAnswerer {
public:
  // Runs before the answer, on the helper thread, with the box and its index.
  using BeforeAnswer = std::function<void(HWND box, size_t index)>;

  BoxAnswerer(DWORD pid, std::vector<int> answers, BeforeAnswer before = nullptr);
  ~BoxAnswerer() { Stop(); }
  BoxAnswerer(const BoxAnswerer &) = delete;
  BoxAnswerer &operator=(const BoxAnswerer &) = delete;

  // Stops after answering what is open; returns the boxes seen.
  std::vector<MessageBoxView> Stop();

private:
  void Run();

  DWORD pid_;
  std::vector<int> answers_;
  BeforeAnswer before_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<MessageBoxView> seen_;
  std::thread thread_; // last: starts once everything it uses is made
};
