// The procedure shared by the progress and wait windows: title, centring and
// the cancel question.
#include "ui/progress_dialog.h"

#include <commctrl.h>

#include "common/run_state.h"
#include "ui/resources/resource_ids.h"
#include "ui/window_helpers.h"

// Posted by the worker of RunBesideWindow: wparam is the bar's new position.
enum { kShowPercentMessage = WM_APP + 1 };

// What the window thread and the worker of RunBesideWindow share.
struct Handoff {
  HWND window;
  void (*work)(PassProgress *progress);
  HANDLE at_pump; // set by the worker when it stops at a pump for the window thread
  HANDLE pumped;  // set by the window thread when the worker may go on
  volatile LONG messages_waiting;
  bool worker_stopped; // the window thread's own note: the worker waits at a pump
};

// The handoff of the worker running now; read and written on the window thread.
static Handoff *Beside = nullptr;

// A cancel may reach the window while its worker copies, not only at a pump:
// a message sent from another thread is handled inside any look at the queue.
// The question and InstallStatus belong to a stopped worker, so such a cancel
// is put back in the queue, to be handled at the worker's next pump.
static bool CancelMustWaitForPump(HWND window) {
  return Beside != nullptr && Beside->window == window && !Beside->worker_stopped;
}

static const char kCancelQuestion[] = "インストールを中止しますか？";
static const char kCopyingStatus[] = "ファイルをコピーしています。";

void RegisterProgressClass() {
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_PROGRESS_CLASS;
  InitCommonControlsEx(&controls);
}

// The question has no owner, so the window stays enabled while it is open and
// a second cancel reaches this procedure; the flag keeps it to one question.
static BOOL AskToCancel() {
  if (CancelQuestionOpen)
    return FALSE;
  CancelQuestionOpen = 1;
  if (ShowMessage(nullptr, kCancelQuestion, MB_YESNO) != IDYES) {
    CancelQuestionOpen = 0;
    return FALSE;
  }
  // A failure already recorded keeps its report: the run rolls back either way.
  if (InstallStatus != kStatusFailed)
    InstallStatus = kStatusCancelled;
  return TRUE;
}

INT_PTR CALLBACK ProgressDialogProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    BuildWindowTitle();
    SetWindowTextA(window, WindowTitle);
    CenterOnOwner(window);
    return TRUE;
  }
  // The window never closes itself: the driver destroys it once its pass returns.
  if (message == WM_COMMAND && wparam == IDCANCEL) {
    if (!CancelMustWaitForPump(window))
      return AskToCancel();
    PostMessageA(window, message, wparam, lparam);
    return TRUE;
  }
  if (message == kShowPercentMessage) {
    SendDlgItemMessageA(window, IDC_PROGRESS_BAR, PBM_SETPOS, wparam, 0);
    return TRUE;
  }
  return FALSE;
}

HWND OpenStatusWindow(HINSTANCE instance, int template_id) {
  HWND window = CreateDialogParamA(instance, MAKEINTRESOURCEA(template_id), nullptr, ProgressDialogProc, 0);
  if (window != nullptr)
    ShowWindow(window, SW_SHOW);
  return window;
}

HWND OpenProgressWindow(HINSTANCE instance) {
  RegisterProgressClass();
  return OpenStatusWindow(instance, IDD_PROGRESS);
}

WindowProgress::WindowProgress(HWND window)
    : window_(window), bar_(window != nullptr ? GetDlgItem(window, IDC_PROGRESS_BAR) : nullptr) {}

void WindowProgress::ShowPercent(int32_t percent) {
  if (bar_ != nullptr)
    SendMessageA(bar_, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

void WindowProgress::Pump() { PumpMessages(window_); }

namespace {

// The progress the worker's passes are given.
class HandoffProgress : public PassProgress {
public:
  explicit HandoffProgress(Handoff *handoff) : handoff_(handoff) {}
  // Only a new position is posted: the bar ignores the others anyway.
  void ShowPercent(int32_t percent) override {
    if (percent == shown_)
      return;
    shown_ = percent;
    PostMessageA(handoff_->window, kShowPercentMessage, static_cast<WPARAM>(percent), 0);
  }
  void Pump() override {
    if (InterlockedCompareExchange(&handoff_->messages_waiting, 0, 0) == 0)
      return;
    SetEvent(handoff_->at_pump);
    WaitForSingleObject(handoff_->pumped, INFINITE);
  }

private:
  Handoff *handoff_;
  int32_t shown_ = -1;
};

} // namespace

static DWORD WINAPI RunWork(void *context) {
  Handoff *handoff = static_cast<Handoff *>(context);
  HandoffProgress progress(handoff);
  handoff->work(&progress);
  return 0;
}

static bool IsPaintOrBarMove(const MSG &message) {
  return message.message == kShowPercentMessage || message.message == WM_PAINT;
}

// Stops the worker at its next pump. false when it ended first.
static bool StopWorkerAtPump(Handoff *handoff, HANDLE thread) {
  InterlockedExchange(&handoff->messages_waiting, 1);
  HANDLE waits[2] = {handoff->at_pump, thread};
  DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  InterlockedExchange(&handoff->messages_waiting, 0);
  if (woke != WAIT_OBJECT_0)
    return false;
  handoff->worker_stopped = true;
  return true;
}

static void LetWorkerGoOn(Handoff *handoff) {
  handoff->worker_stopped = false;
  SetEvent(handoff->pumped);
}

// Handles what waits for the window: paints and bar moves at once; anything
// else with the worker stopped at its next pump, together with all that
// waits then, as a pump on the worker's thread would. Every message is
// looked at in turn rather than judged by the queue's status bits: a
// filtered look at the queue clears the bit of posted messages that are
// still in it. false when the worker ended before its pump: that message
// came after the last pump and is dropped, as it would be without the
// thread.
static bool HandleWindowMessages(Handoff *handoff, HANDLE thread) {
  MSG message;
  while (PeekMessageA(&message, handoff->window, 0, 0, PM_REMOVE)) {
    if (IsPaintOrBarMove(message)) {
      DispatchMessageA(&message);
      continue;
    }
    if (!StopWorkerAtPump(handoff, thread))
      return false;
    DispatchWindowMessage(handoff->window, &message);
    PumpMessages(handoff->window);
    LetWorkerGoOn(handoff);
  }
  return true;
}

// The last moves of the bar, once the worker is done; other messages stay.
static void HandleLastBarMoves(HWND window) {
  MSG message;
  while (PeekMessageA(&message, window, kShowPercentMessage, kShowPercentMessage, PM_REMOVE) ||
         PeekMessageA(&message, window, WM_PAINT, WM_PAINT, PM_REMOVE))
    DispatchMessageA(&message);
}

static void KeepWindowUntilDone(Handoff *handoff, HANDLE thread) {
  for (;;) {
    DWORD woke = MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT);
    if (woke != WAIT_OBJECT_0 + 1 || !HandleWindowMessages(handoff, thread))
      break; // the worker is done (or the wait failed: then join it below)
  }
  WaitForSingleObject(thread, INFINITE);
  HandleLastBarMoves(handoff->window);
}

bool RunBesideWindow(HWND window, void (*work)(PassProgress *progress)) {
  if (window == nullptr)
    return false;
  Handoff handoff = {
      window, work, CreateEventA(nullptr, FALSE, FALSE, nullptr), CreateEventA(nullptr, FALSE, FALSE, nullptr),
      0,      false};
  HANDLE thread = nullptr;
  if (handoff.at_pump != nullptr && handoff.pumped != nullptr) {
    Beside = &handoff; // before the worker can post its first move
    thread = CreateThread(nullptr, 0, RunWork, &handoff, 0, nullptr);
  }
  if (thread != nullptr) {
    KeepWindowUntilDone(&handoff, thread);
    CloseHandle(thread);
  }
  Beside = nullptr;
  if (handoff.at_pump != nullptr)
    CloseHandle(handoff.at_pump);
  if (handoff.pumped != nullptr)
    CloseHandle(handoff.pumped);
  return thread != nullptr;
}

void ShowCopyingStatus(HWND progress_window) {
  SetDlgItemTextA(progress_window, IDC_PROGRESS_STATUS, kCopyingStatus);
  PumpMessages(progress_window);
}
