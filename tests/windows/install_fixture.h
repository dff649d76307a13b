// What the extraction and journal tests share: packages made from a list of
// names and bytes, a fresh source and destination folder per test with the
// process state reset, and a progress window that records the bar's
// positions and can confirm a cancellation.
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/extract_win32.h"
#include "archive/loader_win32.h"
#include "common/text.h"
#include "common/run_state.h"
#include "journal/journal.h"
#include "journal/journal_passes_win32.h"
#include "package_bytes.h"
#include "program_texts.h"
#include "test_support.h"
#include "ui/progress_dialog_win32.h"
#include "ui/resources/resource_ids.h"

namespace fixture {

using Item = PackageItem;

// Records every PBM_SETPOS its progress bar child receives; on the Nth it
// posts the parent a message that confirms cancellation when pumped, as the
// progress window's cancel question does.
struct ProgressProbe {
  static std::vector<int> &Positions() {
    static std::vector<int> positions;
    return positions;
  }
  // ProgressKiB at each move of the bar.
  static std::vector<int32_t> &KiBSteps() {
    static std::vector<int32_t> steps;
    return steps;
  }
  static int &CancelAt() {
    static int cancel_at = 0;
    return cancel_at;
  }
  enum { kConfirmCancel = WM_APP + 1 };

  static LRESULT CALLBACK BarProc(HWND bar, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == PBM_SETPOS) {
      Positions().push_back(static_cast<int>(wparam));
      KiBSteps().push_back(ProgressKiB);
      if (static_cast<int>(Positions().size()) == CancelAt())
        PostMessageA(GetParent(bar), kConfirmCancel, 0, 0);
      return 0;
    }
    return DefWindowProcA(bar, message, wparam, lparam);
  }
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == kConfirmCancel) {
      InstallStatus = kStatusCancelled;
      return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
  }
  static void RegisterClasses() {
    static bool registered = false;
    if (registered)
      return;
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = WindowProc;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "upd_probe_window";
    RegisterClassA(&window_class);
    window_class.lpfnWndProc = BarProc;
    window_class.lpszClassName = "upd_probe_bar";
    RegisterClassA(&window_class);
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    registered = true;
  }

  HWND window = nullptr;
  // The passes' view of the window, as the driver hands it to them.
  WindowProgress progress{nullptr};
  // A hidden window whose control IDC_PROGRESS_BAR is either the recording
  // bar or the real progress bar control.
  explicit ProgressProbe(bool real_bar = false) {
    RegisterClasses();
    Positions().clear();
    KiBSteps().clear();
    CancelAt() = 0;
    window = CreateWindowExA(0, "upd_probe_window", "probe", WS_OVERLAPPEDWINDOW, 0, 0, 300, 100, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
    CreateWindowExA(0, real_bar ? PROGRESS_CLASSA : "upd_probe_bar", "", WS_CHILD, 0, 0, 200, 20, window,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PROGRESS_BAR)), GetModuleHandleA(nullptr),
                    nullptr);
    progress = WindowProgress(window);
  }
  ~ProgressProbe() { DestroyWindow(window); }
  ProgressProbe(const ProgressProbe &) = delete;
  ProgressProbe &operator=(const ProgressProbe &) = delete;
};

// A fresh package folder and destination per test, and the process state of
// a run that has not started.
struct InstallTest : ::testing::Test {
  TempDir source;
  TempDir target;

  void SetUp() override { ResetProgramState(); }
  void TearDown() override { ResetProgramState(); }

  // Writes UPDATE.DAT, loads its directory and points the folders at the
  // two temporary folders.
  void UsePackageBytes(const std::string &bytes, const std::string &target_dir) {
    ASSERT_TRUE(WriteBytes(source.Join(kPackageFileName), bytes));
    ASSERT_GT(LoadArchiveDirectory(source.path.c_str()), 0);
    ASSERT_EQ(0, CopyText(SourceFolder, sizeof SourceFolder, source.path.c_str()));
    ASSERT_EQ(0, CopyText(TARGETDIR, sizeof TARGETDIR, target_dir.c_str()));
  }
  void UsePackage(const std::vector<Item> &items) { UsePackageBytes(PackageBytes(items), target.path); }

  std::string T(const std::string &name) const { return target.Join(name); }

  // The run's rollback, as the driver calls it; the report stays for a look.
  RollbackReport rollback{};
  int32_t RollBack(PassProgress *progress = nullptr) { return RollBackJournal(progress, kRollbackRun, &rollback); }

  static void ExpectJournal(const std::vector<std::pair<std::string, std::string>> &kind_and_path,
                            const std::vector<int32_t> &actions) {
    ASSERT_EQ(static_cast<int32_t>(kind_and_path.size()), JournalCount());
    for (int32_t i = 0; i < JournalCount(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(kind_and_path[i].first, JournalAt(i).kind);
      EXPECT_EQ(kind_and_path[i].second, JournalAt(i).path);
      EXPECT_EQ(actions[i], JournalAt(i).action);
    }
  }

  void ExpectNoFailure() const {
    EXPECT_EQ(kStatusRunning, InstallStatus);
    EXPECT_EQ(kErrorKindGeneral, ErrorKind);
    EXPECT_STREQ("", ErrorDetail);
  }
  void ExpectWriteFailure(const std::string &detail) const {
    EXPECT_EQ(kStatusFailed, InstallStatus);
    EXPECT_EQ(kErrorKindWriting, ErrorKind);
    EXPECT_EQ(detail, ErrorDetail);
  }
};

} // namespace fixture
