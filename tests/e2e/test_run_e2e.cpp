// The whole run of the real update.exe, driven from outside through its
// windows: success, the ways to decline, cancellation, failures, and the
// exact bytes left on disk each time.
#include <gtest/gtest.h>

#include "e2e_support.h"
#include "list_bytes.h"
#include "ui/resources/resource_ids.h"

namespace {

const char kCancelled[] = "インストールを中止しました。";

// A sample game: an old file to be replaced, another left alone, and the
// uninstall list naming them.
struct SampleRun : InstallRun {
  std::string old_list;
  void SetUp() override {
    install.AddGameFile("a.bin", "old a");
    install.AddGameFile("keep.txt", "untouched");
    old_list = ListEntry("F", install.game + "\\a.bin") + ListEntry("F", install.game + "\\keep.txt");
    install.AddGameFile("uinst.dat", old_list + kListEnd);
  }
};

TEST_F(SampleRun, SuccessInstallsEverythingAndListsTheCreatedPaths) {
  install.MakePackage(SamplePackageFiles());
  MessageBoxView done = RunToTheEnd(install);
  EXPECT_EQ(kFinished, done.text);
  EXPECT_EQ(kIconInformation, done.icon);
  EXPECT_EQ(nullptr, done.owner);

  EXPECT_EQ(SampleRunInstalled(install, old_list), install.Snapshot());
}

TEST_F(SampleRun, DeclinedByCancelEscapeOrCloseBoxChangesNothing) {
  install.MakePackage({{"a.bin", "new a"}, {"new.txt", "hello"}});
  auto before = install.Snapshot();
  for (int way = 0; way < 3; ++way) {
    SCOPED_TRACE(way);
    Process process = StartUpdate(install);
    HWND confirm = WaitForConfirm(process.pid);
    ASSERT_NE(nullptr, confirm);
    if (way == 0)
      PressButton(confirm, IDCANCEL);
    else if (way == 1)
      PressEscape(confirm);
    else
      PressCloseBox(confirm);
    ExpectExitsCleanly(process);
    EXPECT_EQ(before, install.Snapshot());
  }
}

TEST_F(SampleRun, MissingUninstallListEndsBeforeAnythingIsWritten) {
  install.MakePackage({{"a.bin", "new a"}, {"new.txt", "hello"}});
  DeleteFileA(Game("uinst.dat").c_str());
  auto before = install.Snapshot();
  MessageBoxView view = RunToTheEnd(install);
  EXPECT_EQ(kListUnreadable, view.text);
  EXPECT_EQ(kIconInformation, view.icon);
  EXPECT_EQ(before, install.Snapshot());
}

TEST_F(SampleRun, CancelDuringTheCopyRollsEverythingBack) {
  // Many small entries after the large one: each is a create and a pump, so
  // a press made once the large entry is seen lands before the copy ends,
  // however fast the copy runs beside this test.
  std::map<std::string, std::string> package = {{"a.bin", "new a"}, {"big\\large.bin", PatternBytes(64 << 20, 9)}};
  for (int i = 0; i < 300; ++i)
    package["late\\" + std::to_string(i) + ".txt"] = "late " + std::to_string(i);
  install.MakePackage(package);
  auto before = install.Snapshot();
  Process process;
  ASSERT_TRUE(StartAndPressStart(install, &process));
  HWND progress = WaitForProgress(process.pid);
  ASSERT_NE(nullptr, progress);
  // Cancel once the large entry is under way: a.bin replaced, big made.
  for (int waited = 0; waited < 10000 && !FileExists(Game("big\\large.bin")); waited += 5)
    Sleep(5);
  PressButton(progress, IDCANCEL);
  HWND question = WaitForBox(process.pid);
  ASSERT_NE(nullptr, question);
  MessageBoxView first = ReadMessageBox(question);
  EXPECT_EQ(kCancelQuestion, first.text);
  EXPECT_EQ(kIconNone, first.icon);
  EXPECT_EQ(nullptr, first.owner);
  // No, and at once the next press: it waits in the queue behind the answer,
  // so the copy can't end before it is seen.
  PressButton(question, IDNO);
  PressButton(progress, IDCANCEL);
  ASSERT_TRUE(WaitForWindowGone(question, 10000));
  EXPECT_EQ(kCancelQuestion, AnswerBox(process.pid, IDYES).text);
  MessageBoxView last = AnswerBox(process.pid);
  EXPECT_EQ(kCancelled, last.text);
  EXPECT_EQ(kIconInformation, last.icon);
  ExpectExitsCleanly(process);
  EXPECT_EQ(before, install.Snapshot());
  EXPECT_TRUE(DirExists(Game("big"))); // directories the run made stay
}

TEST_F(SampleRun, FailureOnTheThirdEntryIsReportedThenRolledBack) {
  install.AddGameFile("c.bin", "old c");
  install.AddGameFile("c.bin_old", "stale backup");
  install.MakePackage({{"a.bin", "new a"}, {"b.bin", "new b"}, {"c.bin", "new c"}, {"d.bin", "new d"}});
  auto before = install.Snapshot();
  MessageBoxView failure = RunToTheEnd(install); // no further message
  EXPECT_EQ(kFailedWriting + WithPath(kBackupFailed, Game("c.bin")), failure.text);
  EXPECT_EQ(kIconWarning, failure.icon);
  EXPECT_EQ(nullptr, failure.owner);
  EXPECT_EQ(before, install.Snapshot());
}

TEST_F(SampleRun, FailureWhileSavingTheListRollsBackAndKeepsTheList) {
  SKIP_UNLESS_ROOT("makes the list immutable");
  install.MakePackage({{"a.bin", "new a"}, {"new.txt", "hello"}});
  auto before = install.Snapshot();
  ASSERT_TRUE(SetImmutable(Game("uinst.dat"), true));
  Process process;
  MessageBoxView failure = StartConfirmAndAnswer(install, &process);
  SetImmutable(Game("uinst.dat"), false);
  EXPECT_EQ(kFailedWriting + WithPath("\"%s\"を作成できません。", Game("uinst.dat")), failure.text);
  EXPECT_EQ(kIconWarning, failure.icon);
  ExpectExitsCleanly(process);
  EXPECT_EQ(before, install.Snapshot());
}

TEST_F(SampleRun, ASecondCopyEndsSilentlyWhileTheFirstAsks) {
  install.MakePackage({{"a.bin", "new a"}});
  Process first = StartUpdate(install);
  HWND confirm = WaitForConfirm(first.pid);
  ASSERT_NE(nullptr, confirm);
  Process second = StartUpdate(install);
  EXPECT_EQ(0u, WaitForExit(second, 20000));
  EXPECT_TRUE(DialogsOf(second.pid).empty());
  KillProcess(second);
  PressButton(confirm, IDCANCEL);
  ExpectExitsCleanly(first);
}

TEST_F(SampleRun, ATooLongDestinationCanOnlyBeCancelled) {
  install.MakePackage({{"a.bin", "new a"}});
  SetDataDir("C:\\" + std::string(198, 'd')); // 201 bytes
  Process process = StartUpdate(install);
  HWND confirm = WaitForConfirm(process.pid);
  ASSERT_NE(nullptr, confirm);
  EXPECT_EQ("インストール先が深すぎます", ControlText(confirm, IDC_TARGETDIR_TEXT));
  EXPECT_FALSE(IsControlEnabled(confirm, IDOK));
  PressButton(confirm, IDCANCEL);
  ExpectExitsCleanly(process);
}

TEST_F(SampleRun, ANetworkDestinationCannotBeStarted) {
  install.MakePackage({{"a.bin", "new a"}});
  SetDataDir("\\\\server\\share\\game");
  Process process = StartUpdate(install);
  HWND confirm = WaitForConfirm(process.pid);
  ASSERT_NE(nullptr, confirm);
  EXPECT_FALSE(IsControlEnabled(confirm, IDOK));
  EXPECT_EQ("\\\\server\\share", ControlText(confirm, IDC_SELECTDIR_EDIT));
  PressCloseBox(confirm);
  ExpectExitsCleanly(process);
}

} // namespace

// The destination checks of the start button, reached through the real
// program on the drives the test session sets up (r: CD-ROM, s: removable,
// t: a fixed drive of 5 MiB).
struct DestinationRefusal : SampleRun {
  // Starts the program for a data directory, presses start and returns the
  // box that answers, read; the box is dismissed with button.
  MessageBoxView StartOn(const std::string &data_dir, Process *process, HWND *confirm, int button = 0) {
    SetDataDir(data_dir);
    *process = StartUpdate(install);
    *confirm = WaitForConfirm(process->pid);
    EXPECT_NE(nullptr, *confirm);
    PressButton(*confirm, IDOK);
    return AnswerBox(process->pid, button);
  }
  void CancelAndExpectNothingWritten(Process &process, HWND confirm) {
    PressButton(confirm, IDCANCEL);
    ExpectExitsCleanly(process);
  }
};

TEST_F(DestinationRefusal, ACdRomIsRefusedWithoutAQuestion) {
  install.MakePackage({{"a.bin", "new a"}});
  Process process;
  HWND confirm = nullptr;
  MessageBoxView box = StartOn("r:\\game", &process, &confirm);
  EXPECT_EQ(WithPath(kCannotInstallThere, "r:\\game"), box.text);
  EXPECT_EQ(confirm, box.owner);
  EXPECT_EQ(kIconInformation, box.icon);
  CancelAndExpectNothingWritten(process, confirm);
}

TEST_F(DestinationRefusal, ARemovableDriveAsksAndNoKeepsTheDialogOpen) {
  install.MakePackage({{"a.bin", "new a"}});
  Process process;
  HWND confirm = nullptr;
  MessageBoxView box = StartOn("s:\\game", &process, &confirm, IDNO);
  EXPECT_EQ(WithPath(kNotFixedQuestion, "s:\\game"), box.text);
  EXPECT_EQ(kIconWarning, box.icon);
  EXPECT_EQ(confirm, box.owner);
  EXPECT_TRUE(IsWindow(confirm));
  CancelAndExpectNothingWritten(process, confirm);
}

TEST_F(DestinationRefusal, TooLittleFreeSpaceIsRefused) {
  // 2 MiB of package needs 2 + 4 MiB; the drive has 5.
  install.MakePackage({{"a.bin", PatternBytes(2 << 20, 3)}});
  Process process;
  HWND confirm = nullptr;
  MessageBoxView box = StartOn("t:\\game", &process, &confirm);
  EXPECT_EQ(kNoSpace, box.text);
  EXPECT_EQ(confirm, box.owner);
  CancelAndExpectNothingWritten(process, confirm);
  EXPECT_EQ("old a", ReadBytes(Game("a.bin")));
}
