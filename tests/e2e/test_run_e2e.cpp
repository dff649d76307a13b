// The whole run of the real update.exe, driven from outside through its
// windows: success, the ways to decline, cancellation, failures, and the
// exact bytes left on disk each time.
#include <gtest/gtest.h>

#include "e2e_support.h"
#include "ui/resources/resource_ids.h"

namespace {

const char kFinished[] = "インストールが終了しました。";
const char kCancelled[] = "インストールを中止しました。";
const char kCancelQuestion[] = "インストールを中止しますか？";
const char kListUnreadable[] = "uinst.datが読み込めませんでした。\nインストールを終了します。";
const char kFailedWriting[] = "インストール中にエラーが発生しました。(書き込み中)\r\n";

const std::string kZero(1, '\0');

std::string ListEntry(const std::string &kind, const std::string &path) { return kind + path + kZero; }

// A sample game: an old file to be replaced, another left alone, and the
// uninstall list naming them.
struct SampleRun : ::testing::Test {
  GameInstall install;
  std::string old_list;
  void SetUp() override {
    install.AddGameFile("a.bin", "old a");
    install.AddGameFile("keep.txt", "untouched");
    old_list = ListEntry("F", install.game + "\\a.bin") + ListEntry("F", install.game + "\\keep.txt");
    install.AddGameFile("uinst.dat", old_list + kZero);
  }
  std::string Game(const std::string &name) const { return install.game + "\\" + name; }
};

TEST_F(SampleRun, SuccessInstallsEverythingAndListsTheCreatedPaths) {
  install.MakePackage({{"a.bin", "new a"}, {"new.txt", "hello"}, {"sub\\x.bin", PatternBytes(3 << 20, 5)}});
  Process process;
  MessageBoxView done = StartConfirmAndAnswer(install, &process);
  EXPECT_EQ(kFinished, done.text);
  EXPECT_EQ(kIconInformation, done.icon);
  EXPECT_EQ(nullptr, done.owner);
  ExpectExitsCleanly(process);

  auto files = install.Snapshot();
  std::map<std::string, std::string> expected = {
      {"a.bin", "new a"},
      {"keep.txt", "untouched"},
      {"new.txt", "hello"},
      {"sub\\x.bin", PatternBytes(3 << 20, 5)},
      {"uinst.dat", old_list + ListEntry("F", Game("new.txt")) + ListEntry("D", Game("sub")) +
                        ListEntry("F", Game("sub\\x.bin")) + kZero},
  };
  EXPECT_EQ(expected, files); // backups gone, list in journal order
}

TEST_F(SampleRun, DeclinedByCancelEscapeOrCloseBoxChangesNothing) {
  install.MakePackage({{"a.bin", "new a"}, {"new.txt", "hello"}});
  auto before = install.Snapshot();
  for (int way = 0; way < 3; ++way) {
    SCOPED_TRACE(way);
    Process process = StartUpdate(install);
    HWND confirm = WaitForConfirm(process);
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
  Process process;
  MessageBoxView view = StartConfirmAndAnswer(install, &process);
  EXPECT_EQ(kListUnreadable, view.text);
  EXPECT_EQ(kIconInformation, view.icon);
  ExpectExitsCleanly(process);
  EXPECT_EQ(before, install.Snapshot());
}

TEST_F(SampleRun, CancelDuringTheCopyRollsEverythingBack) {
  install.MakePackage({{"a.bin", "new a"}, {"big\\large.bin", PatternBytes(96 << 20, 9)}, {"z.txt", "last"}});
  auto before = install.Snapshot();
  Process process;
  ASSERT_TRUE(StartAndPressStart(install, &process));
  HWND progress = WaitForProgress(process);
  ASSERT_NE(nullptr, progress);
  // Cancel once the large entry is under way: a.bin replaced, big made.
  for (int waited = 0; waited < 10000 && !FileExists(Game("big\\large.bin")); waited += 5)
    Sleep(5);
  PressButton(progress, IDCANCEL);
  HWND question = WaitForBox(process);
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
  EXPECT_EQ(kCancelQuestion, AnswerBox(process, IDYES).text);
  MessageBoxView last = AnswerBox(process);
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
  Process process;
  MessageBoxView failure = StartConfirmAndAnswer(install, &process);
  EXPECT_EQ(std::string(kFailedWriting) + "\"" + Game("c.bin") + "\"の退避に失敗しました。", failure.text);
  EXPECT_EQ(kIconWarning, failure.icon);
  EXPECT_EQ(nullptr, failure.owner);
  ExpectExitsCleanly(process); // no further message
  EXPECT_EQ(before, install.Snapshot());
}

TEST_F(SampleRun, FailureWhileSavingTheListRollsBackAndKeepsTheList) {
  install.MakePackage({{"a.bin", "new a"}, {"new.txt", "hello"}});
  auto before = install.Snapshot();
  ASSERT_TRUE(SetImmutable(Game("uinst.dat"), true));
  Process process;
  MessageBoxView failure = StartConfirmAndAnswer(install, &process);
  SetImmutable(Game("uinst.dat"), false);
  EXPECT_EQ(std::string(kFailedWriting) + "\"" + Game("uinst.dat") + "\"を作成できません。", failure.text);
  EXPECT_EQ(kIconWarning, failure.icon);
  ExpectExitsCleanly(process);
  EXPECT_EQ(before, install.Snapshot());
}

TEST_F(SampleRun, ASecondCopyEndsSilentlyWhileTheFirstAsks) {
  install.MakePackage({{"a.bin", "new a"}});
  Process first = StartUpdate(install);
  HWND confirm = WaitForConfirm(first);
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
  HWND confirm = WaitForConfirm(process);
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
  HWND confirm = WaitForConfirm(process);
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
    *confirm = WaitForConfirm(*process);
    EXPECT_NE(nullptr, *confirm);
    PressButton(*confirm, IDOK);
    return AnswerBox(*process, button);
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
  EXPECT_EQ("r:\\gameにはインストールできません。", box.text);
  EXPECT_EQ(confirm, box.owner);
  EXPECT_EQ(kIconInformation, box.icon);
  CancelAndExpectNothingWritten(process, confirm);
}

TEST_F(DestinationRefusal, ARemovableDriveAsksAndNoKeepsTheDialogOpen) {
  install.MakePackage({{"a.bin", "new a"}});
  Process process;
  HWND confirm = nullptr;
  MessageBoxView box = StartOn("s:\\game", &process, &confirm, IDNO);
  EXPECT_EQ("内蔵ハードディスク以外にインストールすることはお勧めしません。\ns:\\gameにインストールしますか？",
            box.text);
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
  EXPECT_EQ("ディスクの空き容量が不足しています。", box.text);
  EXPECT_EQ(confirm, box.owner);
  CancelAndExpectNothingWritten(process, confirm);
  EXPECT_EQ("old a", ReadBytes(Game("a.bin")));
}
