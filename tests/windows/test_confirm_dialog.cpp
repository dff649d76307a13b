// The confirmation dialog made from update.exe's own template, driven from a
// helper thread as a player would: what it shows, when it lets the run
// start, every refusal read from the live box, and the ways to decline.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "archive/loader_win32.h"
#include "common/run_state.h"
#include "ui/confirm_dialog_win32.h"
#include "ui/resources/resource_ids.h"
#include "package_bytes.h"
#include "ui_test_support.h"

namespace {

// Drives the scripted drives of scripts/wine-drives.sh.
const char kCdromRoot[] = "R:\\";
const char kRemovableRoot[] = "S:\\";
const char kNetworkRoot[] = "N:\\";
const char kSmallRoot[] = "T:\\"; // 5 MiB, fixed
const char kMissingRoot[] = "Q:\\";
const uint32_t kSmallDriveMiB = 5;

// A package of one entry whose size figure (file size less 4, in KiB) is kib.
std::string PackageOfKiB(uint32_t kib) {
  const size_t kOverhead = 1 + 5 + 12 + 12; // entry record and trailer
  size_t total = kib == 0 ? 40 : size_t(kib) * 1024 + 4;
  std::string data(total - kOverhead, 'x');
  return data + EntryRecord("a.txt", static_cast<uint32_t>(data.size()), 0) + Trailer(data.size(), 1);
}

uint32_t MeasuredFreeMiB(const char *root) {
  ULARGE_INTEGER available, total, total_free;
  if (!GetDiskFreeSpaceExA(root, &available, &total, &total_free))
    return 0;
  return static_cast<uint32_t>(available.QuadPart >> 20);
}

struct Outcome {
  INT_PTR result = -1;
  int ok_pressed = -1;
};

class ConfirmDialog : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_NE(nullptr, ProgramResources()) << "update.exe must be built";
    ResetProgramState();
    UsePackage(1); // RequiredMiB 5
  }

  void UsePackage(uint32_t kib) {
    ASSERT_TRUE(WriteBytes(package_dir_.Join("UPDATE.DAT"), PackageOfKiB(kib)));
    ASSERT_EQ(1, LoadArchiveDirectory(package_dir_.path.c_str()));
    ASSERT_EQ(int64_t(kib), ArchiveSizeKiB());
  }

  static void SetDestination(const std::string &target, const std::string &select) {
    ASSERT_LT(target.size(), sizeof TARGETDIR);
    ASSERT_LT(select.size(), sizeof SELECTDIR);
    snprintf(TARGETDIR, sizeof TARGETDIR, "%s", target.c_str());
    snprintf(SELECTDIR, sizeof SELECTDIR, "%s", select.c_str());
  }

  // Shows the dialog as the driver does (a window-less display update first)
  // while script drives it from a helper thread; whatever the script leaves
  // open is cancelled.
  static Outcome Run(const std::function<void(HWND dialog)> &script) {
    UpdateDestinationDisplay(nullptr);
    std::thread driver([&script] {
      HWND dialog = WaitForConfirm(GetCurrentProcessId(), 5000);
      EXPECT_NE(nullptr, dialog) << "the dialog did not appear";
      if (dialog == nullptr)
        return;
      script(dialog);
      if (IsWindow(dialog)) {
        PressButton(dialog, IDCANCEL);
        WaitForWindowGone(dialog, 5000);
      }
    });
    Outcome outcome;
    outcome.result = DialogBoxParamA(ProgramResources(), MAKEINTRESOURCEA(IDD_CONFIRM), nullptr, ConfirmDialogProc, 0);
    driver.join();
    outcome.ok_pressed = OkPressed;
    return outcome;
  }

  // Presses start and reads the one box it brings up.
  static MessageBoxView StartAndAnswer(HWND dialog, int button, const std::string &shot = "") {
    PressButton(dialog, IDOK);
    MessageBoxView box = AnswerBox(GetCurrentProcessId(), button, shot);
    Settle(dialog);
    return box;
  }

  static void ExpectInfoBox(const MessageBoxView &box, HWND dialog, const std::string &text) {
    EXPECT_EQ(text, box.text);
    EXPECT_EQ(kBoxCaption, box.caption);
    EXPECT_EQ(kIconInformation, box.icon);
    EXPECT_EQ(dialog, box.owner);
    EXPECT_EQ(std::vector<int>{IDOK}, box.buttons);
  }

  static void ExpectNotFixedQuestion(const MessageBoxView &box, HWND dialog, const std::string &target) {
    EXPECT_EQ(WithPath(kNotFixedQuestion, target), box.text);
    EXPECT_EQ(kBoxCaption, box.caption);
    EXPECT_EQ(kIconWarning, box.icon);
    EXPECT_EQ(dialog, box.owner);
    EXPECT_EQ((std::vector<int>{IDYES, IDNO}), box.buttons);
  }

  // After a refusal the dialog stays open, unchanged, with no box left.
  static void ExpectStillOpen(HWND dialog) {
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_EQ(nullptr, FindBox(GetCurrentProcessId(), false)) << "a further box appeared";
    EXPECT_EQ(0, OkPressed);
  }

  TempDir package_dir_;
};

TEST_F(ConfirmDialog, TheScriptedDrivesAreThere) {
  EXPECT_EQ(UINT(DRIVE_CDROM), GetDriveTypeA(kCdromRoot));
  EXPECT_EQ(UINT(DRIVE_REMOVABLE), GetDriveTypeA(kRemovableRoot));
  EXPECT_EQ(UINT(DRIVE_REMOTE), GetDriveTypeA(kNetworkRoot));
  EXPECT_EQ(UINT(DRIVE_FIXED), GetDriveTypeA(kSmallRoot));
  EXPECT_EQ(UINT(DRIVE_NO_ROOT_DIR), GetDriveTypeA(kMissingRoot));
  EXPECT_EQ(kSmallDriveMiB, MeasuredFreeMiB(kSmallRoot)) << "run the tests in a session of scripts/wine-session.sh";
}

TEST_F(ConfirmDialog, ShowsTheDestinationAndStartsWhenFreeSpaceEqualsTheNeed) {
  SetDestination("T:\\lumerant\\データ", "T:\\lumerant");
  Outcome outcome = Run([](HWND dialog) {
    EXPECT_EQ(kWindowTitle, WindowText(dialog));
    EXPECT_TRUE(IsCentredOnDesktop(dialog));
    EXPECT_EQ("T:\\lumerant", ControlText(dialog, IDC_SELECTDIR_EDIT));
    EXPECT_EQ("T:\\lumerant\\データ", ControlText(dialog, IDC_TARGETDIR_TEXT));
    EXPECT_EQ("HDD要:5M HDD空き:5M", ControlText(dialog, IDC_SPACE_TEXT));
    EXPECT_TRUE(IsControlEnabled(dialog, IDOK));
    EXPECT_TRUE(IsControlEnabled(dialog, IDCANCEL));
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_CHANGE_DESTINATION));
    LONG edit_style = GetWindowLongA(GetDlgItem(dialog, IDC_SELECTDIR_EDIT), GWL_STYLE);
    EXPECT_TRUE(edit_style & ES_READONLY);
    SaveShot(dialog, "confirm_dialog");
    PressButton(dialog, IDOK);
    EXPECT_TRUE(WaitForWindowGone(dialog, 5000));
  });
  EXPECT_EQ(IDOK, outcome.result);
  EXPECT_EQ(1, outcome.ok_pressed);
  EXPECT_STREQ("T:\\lumerant", SELECTDIR); // read back from the edit box unchanged
}

TEST_F(ConfirmDialog, RefusesWhenTheDriveHasLessThanTheNeed) {
  UsePackage(1025); // RequiredMiB 6 on a drive of 5
  SetDestination("T:\\lumerant\\data", "T:\\lumerant");
  Outcome outcome = Run([this](HWND dialog) {
    EXPECT_EQ("HDD要:6M HDD空き:5M", ControlText(dialog, IDC_SPACE_TEXT));
    ExpectInfoBox(StartAndAnswer(dialog, IDOK, "box_no_space"), dialog, kNoSpace);
    ExpectStillOpen(dialog);
  });
  EXPECT_EQ(IDCANCEL, outcome.result);
  EXPECT_EQ(0, outcome.ok_pressed);
}

TEST_F(ConfirmDialog, StartButtonFollowsTheLengthOfTargetDir) {
  std::string target200 = "C:\\" + std::string(197, 'a');
  SetDestination(target200, "C:\\");
  Run([&](HWND dialog) {
    EXPECT_EQ(target200, ControlText(dialog, IDC_TARGETDIR_TEXT));
    EXPECT_TRUE(IsControlEnabled(dialog, IDOK));
  });
  EXPECT_EQ(target200, TARGETDIR);

  SpaceText[0] = '\0';
  SetDestination(target200 + "a", "C:\\");
  Outcome outcome = Run([](HWND dialog) {
    EXPECT_EQ("インストール先が深すぎます", ControlText(dialog, IDC_TARGETDIR_TEXT));
    EXPECT_EQ("", ControlText(dialog, IDC_SPACE_TEXT));
    EXPECT_FALSE(IsControlEnabled(dialog, IDOK));
    SaveShot(dialog, "confirm_dialog_too_deep");
    PressCloseBox(dialog);
    EXPECT_TRUE(WaitForWindowGone(dialog, 5000));
  });
  EXPECT_EQ(IDCANCEL, outcome.result);
  EXPECT_EQ(0, outcome.ok_pressed);
}

TEST_F(ConfirmDialog, NetworkPathGreysTheStartButtonAndShowsNoSpace) {
  SetDestination("\\\\server\\share\\lumerant", "\\\\server\\share");
  Run([](HWND dialog) {
    EXPECT_EQ("\\\\server\\share\\lumerant", ControlText(dialog, IDC_TARGETDIR_TEXT));
    EXPECT_EQ("", ControlText(dialog, IDC_SPACE_TEXT));
    EXPECT_FALSE(IsControlEnabled(dialog, IDOK));
  });
}

TEST_F(ConfirmDialog, LetterAndColonOnlyIsShownButRefused) {
  SetDestination("D:", "D:");
  Run([this](HWND dialog) {
    EXPECT_EQ("HDD要:5M HDD空き:0M", ControlText(dialog, IDC_SPACE_TEXT)); // nothing measured yet
    EXPECT_TRUE(IsControlEnabled(dialog, IDOK));
    ExpectInfoBox(StartAndAnswer(dialog, IDOK, "box_cannot_install"), dialog, WithPath(kCannotInstallThere, "D:"));
    ExpectStillOpen(dialog);
  });
}

TEST_F(ConfirmDialog, TooLongSelectDirIsRefusedWithTheNote) {
  // The start button is greyed then; the command can still arrive (Enter
  // on a dialog whose default button was greyed late, or a posted click).
  SetDestination("C:\\" + std::string(210, 'a'), "C:\\" + std::string(198, 'a'));
  Run([this](HWND dialog) {
    EXPECT_FALSE(IsControlEnabled(dialog, IDOK));
    ExpectInfoBox(StartAndAnswer(dialog, IDOK, "box_too_deep"), dialog,
                  "インストール先が深すぎますのでインストールできません。");
    ExpectStillOpen(dialog);
  });
}

TEST_F(ConfirmDialog, CdromIsRefusedWithoutQuestion) {
  SetDestination("R:\\lumerant\\data", "R:\\lumerant");
  Outcome outcome = Run([this](HWND dialog) {
    ExpectInfoBox(StartAndAnswer(dialog, IDOK), dialog, WithPath(kCannotInstallThere, "R:\\lumerant\\data"));
    ExpectStillOpen(dialog);
  });
  EXPECT_EQ(0, outcome.ok_pressed);
}

TEST_F(ConfirmDialog, RemovableDriveAsksAndNoReturnsToTheDialog) {
  SetDestination("S:\\lumerant\\data", "S:\\lumerant");
  Outcome outcome = Run([this](HWND dialog) {
    ExpectNotFixedQuestion(StartAndAnswer(dialog, IDNO, "box_not_fixed_disk"), dialog, "S:\\lumerant\\data");
    ExpectStillOpen(dialog);
    // Yes goes on to the space check, which the host disk behind S: passes.
    ExpectNotFixedQuestion(StartAndAnswer(dialog, IDYES), dialog, "S:\\lumerant\\data");
    EXPECT_TRUE(WaitForWindowGone(dialog, 5000));
  });
  EXPECT_EQ(IDOK, outcome.result);
  EXPECT_EQ(1, outcome.ok_pressed);
}

TEST_F(ConfirmDialog, NetworkDriveLetterAsksToo) {
  SetDestination("N:\\lumerant\\data", "N:\\lumerant");
  Run([this](HWND dialog) {
    ExpectNotFixedQuestion(StartAndAnswer(dialog, IDNO), dialog, "N:\\lumerant\\data");
    ExpectStillOpen(dialog);
  });
}

TEST_F(ConfirmDialog, MissingDriveAsksThenFindsNoSpace) {
  SetDestination("Q:\\lumerant\\data", "Q:\\lumerant");
  Outcome outcome = Run([this](HWND dialog) {
    EXPECT_EQ("HDD要:5M HDD空き:0M", ControlText(dialog, IDC_SPACE_TEXT));
    ExpectNotFixedQuestion(StartAndAnswer(dialog, IDYES), dialog, "Q:\\lumerant\\data");
    ExpectInfoBox(AnswerBox(GetCurrentProcessId(), IDOK), dialog, kNoSpace);
    Settle(dialog);
    ExpectStillOpen(dialog);
  });
  EXPECT_EQ(0, outcome.ok_pressed);
}

TEST_F(ConfirmDialog, CancelButtonEscapeAndCloseBoxEachDecline) {
  const std::pair<const char *, std::function<void(HWND)>> ways[] = {
      {"cancel button", [](HWND dialog) { PressButton(dialog, IDCANCEL); }},
      {"escape", [](HWND dialog) { PressEscape(dialog); }},
      {"close box", [](HWND dialog) { PressCloseBox(dialog); }},
  };
  for (const auto &way : ways) {
    SetDestination("C:\\lumerant\\data", "C:\\lumerant");
    OkPressed = 0;
    Outcome outcome = Run([&way](HWND dialog) {
      way.second(dialog);
      EXPECT_TRUE(WaitForWindowGone(dialog, 5000)) << way.first;
    });
    EXPECT_EQ(IDCANCEL, outcome.result) << way.first;
    EXPECT_EQ(0, outcome.ok_pressed) << way.first;
  }
}

TEST_F(ConfirmDialog, QueryFreeMiBMeasuresOncePerLetter) {
  const std::string fill = std::string(kSmallRoot) + "fill.bin";
  EXPECT_EQ(kSmallDriveMiB, QueryFreeMiB("T:\\A"));
  ASSERT_TRUE(WriteBytes(fill, std::string(1 << 20, 'f')));
  EXPECT_EQ(kSmallDriveMiB, QueryFreeMiB("T:\\B")) << "same letter: the figure is kept";
  EXPECT_EQ(kSmallDriveMiB, QueryFreeMiB("T:")) << "no root: the last figure";
  EXPECT_EQ(MeasuredFreeMiB("C:\\"), QueryFreeMiB("C:\\A"));
  EXPECT_EQ(kSmallDriveMiB - 1, QueryFreeMiB("T:\\A")) << "another letter came between: measured again";
  DeleteFileA(fill.c_str());

  // A drive that can't be measured counts 0, and keeps it.
  EXPECT_EQ(0u, QueryFreeMiB("Q:\\A"));
  EXPECT_EQ(0u, QueryFreeMiB("Q:\\B"));
  EXPECT_EQ(0u, QueryFreeMiB("\\\\server\\share"));
}

} // namespace
