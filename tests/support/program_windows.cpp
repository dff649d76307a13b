// Finding and answering the program's message boxes by process, for the
// end-to-end tests (another process) and the window tests (this one).
#include "program_windows.h"

#include <gtest/gtest.h>

#include <cstring>

#include "test_support.h"
#include "ui/resources/resource_ids.h"

namespace {

// A message box shows its text in this control.
const int kBoxTextId = 0xFFFF;

// The title as stored, without asking the window's thread: the thread may be
// busy (or waiting for the caller) when a box is looked for.
std::string StoredTitle(HWND window) {
  WCHAR wide[256] = L"";
  InternalGetWindowText(window, wide, 256);
  char text[512] = "";
  WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
  return text;
}

struct BoxSearch {
  DWORD pid;
  bool visible_only;
  HWND found;
};

bool IsBoxOf(HWND window, const BoxSearch &search) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char class_name[32] = "";
  GetClassNameA(window, class_name, sizeof class_name);
  return pid == search.pid && strcmp(class_name, "#32770") == 0 && (!search.visible_only || IsWindowVisible(window)) &&
         GetDlgItem(window, kBoxTextId) != nullptr && StoredTitle(window) == kBoxCaption;
}

BOOL CALLBACK FindBoxStep(HWND window, LPARAM context) {
  BoxSearch *search = reinterpret_cast<BoxSearch *>(context);
  if (!IsBoxOf(window, *search))
    return TRUE;
  search->found = window;
  return FALSE;
}

int FirstButton(const MessageBoxView &view) { return view.buttons.empty() ? IDOK : view.buttons.front(); }

} // namespace

HWND FindBox(DWORD pid, bool visible_only) {
  BoxSearch search{pid, visible_only, nullptr};
  EnumWindows(FindBoxStep, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForBox(DWORD pid, DWORD timeout_ms) {
  DWORD start = GetTickCount();
  for (;;) {
    if (HWND box = FindBox(pid, true))
      return box;
    if (GetTickCount() - start > timeout_ms)
      return nullptr;
    Sleep(20);
  }
}

HWND WaitForConfirm(DWORD pid, DWORD timeout_ms) {
  return WaitForDialogWithControl(pid, kWindowTitle, IDC_SELECTDIR_EDIT, timeout_ms);
}

HWND WaitForProgress(DWORD pid) { return WaitForDialogWithControl(pid, kWindowTitle, IDC_PROGRESS_BAR, kWindowWaitMs); }

MessageBoxView AnswerBox(DWORD pid, int button, const std::string &picture) {
  HWND box = WaitForBox(pid);
  if (box == nullptr) {
    ADD_FAILURE() << "no message box of process " << pid << " showed";
    return MessageBoxView();
  }
  MessageBoxView view = ReadMessageBox(box);
  if (!picture.empty())
    SaveShot(box, picture);
  PressButton(box, button ? button : FirstButton(view));
  WaitForWindowGone(box, 10000);
  return view;
}

void SaveShot(HWND window, const std::string &name) {
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

BoxAnswerer::BoxAnswerer(DWORD pid, std::vector<int> answers, BeforeAnswer before)
    : pid_(pid), answers_(std::move(answers)), before_(std::move(before)), thread_([this] { Run(); }) {}

std::vector<MessageBoxView> BoxAnswerer::Stop() {
  stop_ = true;
  if (thread_.joinable())
    thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  return seen_;
}

void BoxAnswerer::Run() {
  for (;;) {
    HWND box = WaitForBox(pid_, 50);
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
    WaitForWindowGone(box, 10000);
  }
}
