// The progress and wait windows made from update.exe's templates: title,
// place, texts, and the cancel question as the copy loop meets it (the
// window's messages pumped on this thread, the boxes answered from another),
// also with the copy on a worker thread beside the window.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include "common/run_state.h"
#include "ui/progress_dialog_win32.h"
#include "ui/resources/resource_ids.h"
#include "ui/window_helpers_win32.h"
#include "ui_test_support.h"

namespace {

class StatusWindows : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_NE(nullptr, ProgramResources()) << "update.exe must be built";
    ResetProgramState();
  }
  void TearDown() override {
    if (window_ != nullptr)
      DestroyWindow(window_);
  }

  HWND OpenProgress() {
    window_ = OpenProgressWindow(ProgramResources());
    PumpMessages(window_);
    return window_;
  }
  HWND OpenWait(int template_id) {
    window_ = OpenStatusWindow(ProgramResources(), template_id);
    PumpMessages(window_);
    return window_;
  }

  // Posts the commands, then pumps as the copy loop does while a helper
  // answers each box with the next answer. Returns the boxes that appeared.
  std::vector<MessageBoxView> PumpWhileAnswering(const std::function<void()> &post, std::vector<int> answers,
                                                 BoxAnswerer::BeforeAnswer before = nullptr) {
    BoxAnswerer answerer(GetCurrentProcessId(), std::move(answers), std::move(before));
    post();
    PumpMessages(window_);
    return answerer.Stop();
  }

  static void ExpectCancelQuestion(const MessageBoxView &box) {
    EXPECT_EQ(kCancelQuestion, box.text);
    EXPECT_EQ(kBoxCaption, box.caption);
    EXPECT_EQ(kIconNone, box.icon);
    EXPECT_EQ(nullptr, box.owner);
    EXPECT_EQ((std::vector<int>{IDYES, IDNO}), box.buttons);
  }

  HWND window_ = nullptr;
};

// The one static control of a wait window.
HWND OnlyChild(HWND window) { return GetWindow(window, GW_CHILD); }

TEST_F(StatusWindows, ProgressWindowTitlePlaceAndControls) {
  HWND window = OpenProgress();
  ASSERT_NE(nullptr, window);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_EQ(kWindowTitle, WindowText(window));
  EXPECT_TRUE(IsCentredOnDesktop(window));
  EXPECT_EQ(0, GetWindowLongA(window, GWL_STYLE) & WS_SYSMENU);
  EXPECT_EQ("ｷｬﾝｾﾙ", ControlText(window, IDCANCEL));
  EXPECT_EQ("ファイルのコピー中", ControlText(window, IDC_PROGRESS_STATUS));
  HWND bar = GetDlgItem(window, IDC_PROGRESS_BAR);
  ASSERT_NE(nullptr, bar) << "the progress bar class was not registered";
  EXPECT_EQ(0, SendMessageA(bar, PBM_GETPOS, 0, 0));
  EXPECT_EQ(100, SendMessageA(bar, PBM_GETRANGE, FALSE, 0));

  ShowCopyingStatus(window);
  EXPECT_EQ("ファイルをコピーしています。", ControlText(window, IDC_PROGRESS_STATUS));
  EXPECT_EQ("", ControlText(window, IDC_PROGRESS_SECOND_LINE));
  SendMessageA(bar, PBM_SETPOS, 40, 0);
  SaveShot(window, "progress_window");
}

TEST_F(StatusWindows, CancelButtonPressedTwiceAsksOnceAndNoResumes) {
  OpenProgress();
  bool second_press_returned = false;
  std::vector<MessageBoxView> boxes = PumpWhileAnswering(
      [this] { PressButton(window_, IDCANCEL); }, {IDNO, IDNO},
      [this, &second_press_returned](HWND box, size_t index) {
        if (index != 0)
          return;
        SaveShot(box, "box_cancel_question");
        // The box has no owner: the window still takes the second press,
        // which must not open a second question.
        DWORD_PTR result = 0;
        second_press_returned =
            SendMessageTimeoutA(window_, WM_COMMAND, IDCANCEL, reinterpret_cast<LPARAM>(GetDlgItem(window_, IDCANCEL)),
                                SMTO_NORMAL, 3000, &result) != 0;
      });
  ASSERT_EQ(1u, boxes.size());
  ExpectCancelQuestion(boxes[0]);
  EXPECT_TRUE(second_press_returned);
  EXPECT_EQ(kStatusRunning, InstallStatus);
  EXPECT_EQ(0, CancelQuestionOpen);
  EXPECT_TRUE(IsWindow(window_));

  // After a no, a later press asks again.
  boxes = PumpWhileAnswering([this] { PressButton(window_, IDCANCEL); }, {IDNO});
  EXPECT_EQ(1u, boxes.size());
  EXPECT_EQ(kStatusRunning, InstallStatus);
}

TEST_F(StatusWindows, EscapePressedTwiceAsksOnce) {
  OpenProgress();
  std::vector<MessageBoxView> boxes = PumpWhileAnswering(
      [this] {
        PressEscape(window_);
        PressEscape(window_);
      },
      {IDNO, IDNO});
  ASSERT_EQ(1u, boxes.size());
  ExpectCancelQuestion(boxes[0]);
  EXPECT_EQ(kStatusRunning, InstallStatus);
}

TEST_F(StatusWindows, YesCancelsForGoodAndTheWindowStays) {
  OpenProgress();
  HWND bar = GetDlgItem(window_, IDC_PROGRESS_BAR);
  SendMessageA(bar, PBM_SETPOS, 30, 0);
  std::vector<MessageBoxView> boxes = PumpWhileAnswering([this] { PressButton(window_, IDCANCEL); }, {IDYES});
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(kStatusCancelled, InstallStatus);
  EXPECT_EQ(1, CancelQuestionOpen);
  EXPECT_TRUE(IsWindow(window_) && IsWindowVisible(window_));
  EXPECT_EQ(30, SendMessageA(bar, PBM_GETPOS, 0, 0));

  // Nothing more is asked: not by the button, Escape or a close request,
  // nor in the rollback window that follows.
  boxes = PumpWhileAnswering(
      [this] {
        PressButton(window_, IDCANCEL);
        PressEscape(window_);
        PostMessageA(window_, WM_CLOSE, 0, 0);
      },
      {});
  EXPECT_TRUE(boxes.empty());
  DestroyWindow(window_);
  OpenWait(IDD_ROLLBACK_WAIT);
  boxes = PumpWhileAnswering([this] { PostMessageA(window_, WM_CLOSE, 0, 0); }, {});
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(kStatusCancelled, InstallStatus);
}

TEST_F(StatusWindows, CloseRequestAsksTheSameQuestion) {
  OpenProgress();
  std::vector<MessageBoxView> boxes = PumpWhileAnswering([this] { PostMessageA(window_, WM_CLOSE, 0, 0); }, {IDNO});
  ASSERT_EQ(1u, boxes.size());
  ExpectCancelQuestion(boxes[0]);
  EXPECT_TRUE(IsWindow(window_));
}

TEST_F(StatusWindows, YesAfterAFailureKeepsTheFailure) {
  // After a failure the rollback window stands; a cancel there must not turn
  // the recorded failure into a cancellation.
  InstallStatus = kStatusFailed;
  OpenWait(IDD_ROLLBACK_WAIT);
  std::vector<MessageBoxView> boxes = PumpWhileAnswering([this] { PostMessageA(window_, WM_CLOSE, 0, 0); }, {IDYES});
  ASSERT_EQ(1u, boxes.size());
  EXPECT_EQ(kStatusFailed, InstallStatus);
  EXPECT_TRUE(IsWindow(window_));
}

TEST_F(StatusWindows, FinishingWindowAsksAndStaysUp) {
  OpenWait(IDD_FINISH_WAIT);
  std::vector<MessageBoxView> boxes = PumpWhileAnswering([this] { PostMessageA(window_, WM_CLOSE, 0, 0); }, {IDYES});
  ASSERT_EQ(1u, boxes.size());
  ExpectCancelQuestion(boxes[0]);
  EXPECT_TRUE(IsWindow(window_) && IsWindowVisible(window_));
}

// The passes' progress works on this thread: the bar moves when told, and a
// cancel waiting in the queue is asked only inside the pump.
TEST_F(StatusWindows, ProgressMovesTheBarAtOnceAndAsksOnlyInsideThePump) {
  OpenProgress();
  WindowProgress progress(window_);
  progress.ShowPercent(37);
  EXPECT_EQ(37, SendDlgItemMessageA(window_, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0));
  PressButton(window_, IDCANCEL);
  EXPECT_EQ(kStatusRunning, InstallStatus);
  BoxAnswerer answerer(GetCurrentProcessId(), {IDYES});
  progress.Pump();
  std::vector<MessageBoxView> boxes = answerer.Stop();
  EXPECT_EQ(kStatusCancelled, InstallStatus);
  ASSERT_EQ(1u, boxes.size());
  ExpectCancelQuestion(boxes[0]);
}

TEST_F(StatusWindows, WaitWindowsShowTheirTwoLines) {
  const struct {
    int template_id;
    const char *text;
    const char *shot;
  } windows[] = {
      {IDD_ROLLBACK_WAIT, "インストール情報を削除しています。\nお待ちください。", "rollback_wait_window"},
      {IDD_FINISH_WAIT, "インストール終了処理を行っています。\nお待ちください。", "finish_wait_window"},
  };
  for (const auto &w : windows) {
    HWND window = OpenWait(w.template_id);
    ASSERT_NE(nullptr, window);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(kWindowTitle, WindowText(window)) << w.template_id;
    EXPECT_TRUE(IsCentredOnDesktop(window)) << w.template_id;
    EXPECT_EQ(0, GetWindowLongA(window, GWL_STYLE) & WS_SYSMENU);
    HWND text = OnlyChild(window);
    ASSERT_NE(nullptr, text);
    EXPECT_EQ(w.text, WindowText(text));
    EXPECT_EQ(nullptr, GetWindow(text, GW_HWNDNEXT));
    SaveShot(window, w.shot);
    DestroyWindow(window);
    window_ = nullptr;
  }
}

} // namespace
