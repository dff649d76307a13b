// Helpers of the window tests: the program's own templates, the message boxes
// of this process answered from a helper thread, and screenshots.
#pragma once
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "window_driver.h"

// The program's caption for its boxes, and the title every window carries.
inline const char *BoxCaption() { return "インストール"; }
inline std::string ExpectedWindowTitle() { return "lumerant_qen　インストール"; }

// update.exe loaded as data: the dialogs are made from its templates.
inline HMODULE ProgramResources() {
  static HMODULE module = LoadLibraryExA(BuildPath("driver\\update.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  return module;
}

// Saves the window as build/win/screenshots/<name>.bmp (scripts/screenshots.sh
// turns them into the PNG files under docs/).
inline void SaveShot(HWND window, const std::string &name) {
  CreateDirectoryA(BuildPath("screenshots").c_str(), nullptr);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  // Let what was painted reach the X server before it is read back. Wine
  // hands a thread's drawing over while the thread waits for messages, so a
  // window of this thread needs the wait here.
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 150)
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 30, QS_ALLINPUT);
  } else {
    Sleep(150);
  }
  SaveWindowImage(window, BuildPath("screenshots\\" + name + ".bmp"));
}

// The title as stored, without asking the window's thread: the thread may be
// busy (or waiting for the caller) when a box is looked for.
inline std::string StoredTitle(HWND window) {
  WCHAR wide[256] = L"";
  InternalGetWindowText(window, wide, 256);
  char text[512] = "";
  WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
  return text;
}

struct BoxSearch {
  bool visible_only;
  HWND found;
};

inline BOOL CALLBACK FindOwnBoxStep(HWND window, LPARAM context) {
  BoxSearch *search = reinterpret_cast<BoxSearch *>(context);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char class_name[32] = "";
  GetClassNameA(window, class_name, sizeof class_name);
  if (pid == GetCurrentProcessId() && strcmp(class_name, "#32770") == 0 &&
      (!search->visible_only || IsWindowVisible(window)) && StoredTitle(window) == BoxCaption()) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// A message box of this process; with visible_only false also one that is
// being made and not shown yet.
inline HWND FindOwnBox(bool visible_only = false) {
  BoxSearch search{visible_only, nullptr};
  EnumWindows(FindOwnBoxStep, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

inline HWND WaitForOwnBox(DWORD timeout_ms = 5000) {
  DWORD start = GetTickCount();
  for (;;) {
    if (HWND box = FindOwnBox(true))
      return box;
    if (GetTickCount() - start > timeout_ms)
      return nullptr;
    Sleep(20);
  }
}

// Waits until the thread of the window is idle in a message loop again, so
// that whatever it did synchronously after the last answer has happened.
inline void Settle(HWND window) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
}

// What a box showed before it was answered.
struct SeenBox {
  bool appeared = false;
  MessageBoxView view;
};

// Waits for a box of this process, reads it, saves its image when a name is
// given, presses the button and waits until the box is gone.
inline SeenBox AnswerBox(int button, const std::string &shot = "") {
  SeenBox seen;
  HWND box = WaitForOwnBox();
  if (box == nullptr)
    return seen;
  seen.appeared = true;
  seen.view = ReadMessageBox(box);
  if (!shot.empty())
    SaveShot(box, shot);
  PressButton(box, button);
  WaitForWindowGone(box, 5000);
  return seen;
}

// A helper thread that answers every box of this process with the next
// answer of its list (IDNO once the list is used up) and keeps what it saw.
class BoxAnswerer {
public:
  // Runs before the answer, on the helper thread, with the box and its index.
  using BeforeAnswer = std::function<void(HWND box, size_t index)>;

  explicit BoxAnswerer(std::vector<int> answers, BeforeAnswer before = nullptr)
      : answers_(std::move(answers)), before_(std::move(before)), thread_([this] { Run(); }) {}
  ~BoxAnswerer() { Stop(); }

  // Stops after answering what is open; returns the boxes seen.
  std::vector<MessageBoxView> Stop() {
    stop_ = true;
    if (thread_.joinable())
      thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }

private:
  void Run() {
    for (;;) {
      HWND box = WaitForOwnBox(50);
      if (box == nullptr) {
        if (stop_)
          return;
        continue;
      }
      size_t index;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        seen_.push_back(ReadMessageBox(box));
        index = seen_.size() - 1;
      }
      if (before_)
        before_(box, index);
      PressButton(box, index < answers_.size() ? answers_[index] : IDNO);
      WaitForWindowGone(box, 5000);
    }
  }

  std::vector<int> answers_;
  BeforeAnswer before_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<MessageBoxView> seen_;
  std::thread thread_;
};

// The rectangle a centred window must have on the desktop (no owner).
inline bool IsCentredOnDesktop(HWND window) {
  RECT own, desk;
  GetWindowRect(window, &own);
  GetWindowRect(GetDesktopWindow(), &desk);
  int width = own.right - own.left, height = own.bottom - own.top;
  return own.left == desk.left + ((desk.right - desk.left) - width) / 2 &&
         own.top == desk.top + ((desk.bottom - desk.top) - height) / 2;
}
