// The real update.exe at start-up: silent exits and the two early messages.
#include <gtest/gtest.h>

#include "e2e_support.h"
#include "list_bytes.h"

namespace {

const char kNotInstalled[] = "lumerant QEN//Tessar:Vondrakeがインストールされていません。\nインストールを終了します。";

// Runs update.exe, expects one information box with text, answers it and
// expects the program to end with 0 and the game folder unchanged.
void ExpectOneMessageAndExit(GameInstall &install, const char *text) {
  auto before = install.Snapshot();
  Process process = StartUpdate(install);
  ASSERT_NE(nullptr, process.handle);
  MessageBoxView view = AnswerBox(process.pid, IDOK);
  EXPECT_EQ(text, view.text);
  EXPECT_EQ(kBoxCaption, view.caption);
  EXPECT_EQ(kIconInformation, view.icon);
  EXPECT_EQ(nullptr, view.owner);
  EXPECT_EQ(std::vector<int>{IDOK}, view.buttons);
  ExpectExitsCleanly(process);
  EXPECT_EQ(before, install.Snapshot());
}

void ExpectSilentExit(GameInstall &install) {
  Process process = StartUpdate(install);
  ASSERT_NE(nullptr, process.handle);
  EXPECT_EQ(0u, WaitForExit(process, 20000));
  EXPECT_TRUE(DialogsOf(process.pid).empty());
  KillProcess(process);
}

TEST(StartupMessages, NoDataDirectoryInTheRegistry) {
  GameInstall install;
  install.MakePackage({{"a.txt", "abc"}});
  DeleteDataDir();
  ExpectOneMessageAndExit(install, kNotInstalled);
}

TEST(StartupMessages, MissingEmptyOrRefusedPackage) {
  GameInstall install;
  install.AddGameFile("uinst.dat", kListEnd);
  ExpectOneMessageAndExit(install, kPackageUnreadable);
  install.WriteRawPackage("");
  ExpectOneMessageAndExit(install, kPackageUnreadable);
  install.MakePackage({{"..\\evil.dll", "x"}});
  ExpectOneMessageAndExit(install, kPackageUnreadable);
}

TEST(StartupMessages, ThePackageIsFoundBesideAProgramInAJapaneseFolder) {
  // ソ ends in 0x5C: a bytewise cut would look for "…\x83\UPDATE.DAT".
  GameInstall install("ソフト");
  install.MakePackage({{"..\\evil.dll", "x"}});
  ExpectOneMessageAndExit(install, kPackageUnreadable);
}

TEST(SilentExits, WhileTheGameRuns) {
  GameInstall install;
  install.MakePackage({{"a.txt", "abc"}});
  Process game = StartMutexHolder("LUMERANT_QEN_EX");
  ASSERT_NE(nullptr, game.handle);
  ExpectSilentExit(install);
  KillProcess(game);
}

TEST(SilentExits, WhileAnotherCopyRuns) {
  GameInstall install;
  DeleteDataDir(); // would show a message if the guard let it through
  Process other = StartMutexHolder("ZSETUP_MUTEX");
  ASSERT_NE(nullptr, other.handle);
  ExpectSilentExit(install);
  KillProcess(other);
}

} // namespace
