// Runs that meet an ordinary Windows condition or are cut short, through the
// real program: the next start settles what a killed run left, read-only
// files and a list held open by another program don't strand the game, and
// every rollback warning says what really happened.
#include <gtest/gtest.h>

#include <functional>

#include "e2e_support.h"
#include "list_bytes.h"
#include "package_bytes.h"

namespace {

const char kNotUndone[] =
    "前回中断されたインストールを元に戻せませんでした。\n\"%s\"を使用しているプログラムを終了してから"
    "、もう一度実行してください。";

uint64_t SizeOf(const std::string &path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
    return 0;
  return static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

struct Recovery : InstallRun {
  std::string Record() const { return Game("update.run"); }

  // Starts the program, presses start and kills it once condition holds.
  void KillWhen(const std::function<bool()> &condition) {
    Process process;
    ASSERT_TRUE(StartAndPressStart(install, &process));
    for (DWORD start = GetTickCount(); !condition() && GetTickCount() - start < 60000;)
      Sleep(5);
    KillProcess(process);
    ASSERT_TRUE(FileExists(Record()));
  }

  // Starts the program and expects the box about the interrupted run, the
  // folder already settled when it shows, then the confirmation (cancelled).
  void ExpectSettledBy(const std::string &message, const std::map<std::string, std::string> &expected) {
    Process process = StartUpdate(install);
    HWND box = WaitForBox(process.pid);
    ASSERT_NE(nullptr, box);
    MessageBoxView view = ReadMessageBox(box);
    EXPECT_EQ(message, view.text);
    EXPECT_EQ(kIconInformation, view.icon);
    EXPECT_EQ(nullptr, view.owner);
    EXPECT_EQ(expected, install.Snapshot());
    PressButton(box, IDOK);
    HWND confirm = WaitForConfirm(process.pid);
    ASSERT_NE(nullptr, confirm);
    PressButton(confirm, IDCANCEL);
    ExpectExitsCleanly(process);
  }
};

TEST_F(Recovery, AKillDuringTheCopyIsUndoneByTheNextStartOnceNothingHoldsItsFiles) {
  install.AddGameWithList({{"a.bin", "old a"}, {"keep.txt", "kept"}});
  install.MakePackage({{"a.bin", "new a"}, {"big.bin", PatternBytes(48 << 20, 1)}, {"z.bin", "z"}});
  auto before = install.Snapshot();
  // Once big.bin has bytes its record is written: the one instant a kill
  // can leave a file unrecorded (between its create and its record) is past.
  KillWhen([&] { return FileExists(Game("a.bin_old")) && SizeOf(Game("big.bin")) > 0; });

  // While another program holds the half-copied file the run can't be
  // undone: the start says so, keeps the record and ends.
  Process holder = StartFileHolder(Game("big.bin"));
  ASSERT_NE(nullptr, holder.handle);
  Process process = StartUpdate(install);
  MessageBoxView warning = AnswerBox(process.pid);
  EXPECT_EQ(WithPath(kNotUndone, Game("big.bin")), warning.text);
  EXPECT_EQ(kIconWarning, warning.icon);
  ExpectExitsCleanly(process);
  EXPECT_TRUE(FileExists(Record()));
  KillProcess(holder);

  ExpectSettledBy(kRolledBack, before);
}

// The folder as a kill right after the commit point leaves it: the new list
// complete in its temporary file but not yet in place, the backup still
// there. (The kill sweep reaches such points by chance; this one is exact.)
TEST_F(Recovery, AKillAfterTheCommitPointIsCompletedByTheNextStart) {
  install.AddGameWithList({{"a.bin", "old a"}});
  std::string list = ReadBytes(Game("uinst.dat"));
  std::string new_list = list.substr(0, list.size() - 1) + ListEntry("F", Game("b.bin")) + kListEnd;
  install.AddGameFile("a.bin_old", "old a");
  install.AddGameFile("a.bin", "new a");
  install.AddGameFile("b.bin", "new b");
  install.AddGameFile("uin1.tmp", new_list);
  install.MakePackage({{"a.bin", "new a"}, {"b.bin", "new b"}});
  std::string record = "UPDRUN1\n";
  for (const std::string &line :
       {"R" + Game("a.bin"), "C" + Game("b.bin"), "T" + Game("uin1.tmp"), "K" + Game("uin1.tmp")})
    record += line + std::string(1, '\0');
  install.AddGameFile("update.run", record);

  ExpectSettledBy(kCompleted, {{"a.bin", "new a"}, {"b.bin", "new b"}, {"uinst.dat", new_list}});
}

// A kill while the run record's header was being written leaves it empty
// or cut inside the header: nothing had changed, and the next start goes on.
TEST_F(Recovery, ARecordCutInsideItsHeaderHoldsNothingToUndo) {
  for (const char *left : {"", "UPDR"}) {
    SCOPED_TRACE(left);
    install.AddGameWithList({{"a.bin", "old a"}});
    install.MakePackage({{"a.bin", "new a"}});
    auto before = install.Snapshot();
    install.AddGameFile("update.run", left);
    ExpectSettledBy(kRolledBack, before);
    EXPECT_FALSE(FileExists(Record()));
  }
}

TEST_F(Recovery, ANameGivenTwiceOrInTwoCasesIsUndoneToTheOldFolderWithoutAWarning) {
  const std::vector<std::vector<PackageItem>> packages = {
      {{"x.bin", "first"}, {"x.bin", "second"}, {"c.bin", "new c"}},
      {{"X.bin", "first"}, {"x.BIN", "second"}, {"c.bin", "new c"}},
  };
  for (const auto &package : packages) {
    SCOPED_TRACE(package[1].name);
    GameInstall game;
    // A stale backup of the player's makes the last entry fail.
    game.AddGameWithList({{"c.bin", "old c"}, {"c.bin_old", "player's"}});
    game.WriteRawPackage(PackageBytes(package));
    auto before = game.Snapshot();
    // No warning follows the failure.
    EXPECT_EQ(kFailedWriting + WithPath(kBackupFailed, game.Game("c.bin")), RunToTheEnd(game).text);
    EXPECT_EQ(before, game.Snapshot());
  }
}

TEST_F(Recovery, AReadOnlyFileIsReplacedRunAfterRun) {
  install.AddGameWithList({{"ro.bin", "old"}});
  ASSERT_TRUE(SetFileAttributesA(Game("ro.bin").c_str(), FILE_ATTRIBUTE_READONLY));
  for (const char *content : {"first update", "second update"}) {
    SCOPED_TRACE(content);
    install.MakePackage({{"ro.bin", content}});
    EXPECT_EQ(kFinished, RunToTheEnd(install).text);
    EXPECT_EQ(content, ReadBytes(Game("ro.bin")));
    EXPECT_FALSE(FileExists(Game("ro.bin_old")));
    EXPECT_FALSE(FileExists(Record()));
  }
}

TEST_F(Recovery, AListHeldOpenByAnotherProgramIsRewrittenInPlace) {
  install.AddGameWithList({{"a.bin", "old a"}});
  SetFileAttributesA(Game("uinst.dat").c_str(), FILE_ATTRIBUTE_HIDDEN);
  std::string list = ReadBytes(Game("uinst.dat"));
  install.MakePackage({{"a.bin", "new a"}, {"b.bin", "new b"}});
  Process holder = StartFileHolder(Game("uinst.dat"));
  ASSERT_NE(nullptr, holder.handle);
  EXPECT_EQ(kFinished, RunToTheEnd(install).text);
  KillProcess(holder);
  std::string new_list = list.substr(0, list.size() - 1) + ListEntry("F", Game("b.bin")) + kListEnd;
  EXPECT_EQ((std::map<std::string, std::string>{{"a.bin", "new a"}, {"b.bin", "new b"}, {"uinst.dat", new_list}}),
            install.Snapshot());
  EXPECT_TRUE(GetFileAttributesA(Game("uinst.dat").c_str()) & FILE_ATTRIBUTE_HIDDEN);
}

// What the rollback warning says when something gets in its way while the
// failure is shown: only a backup really left is said to be under _old.
TEST_F(Recovery, TheRollbackWarningSaysWhatReallyHappened) {
  struct Case {
    const char *what;
    std::function<Process(const GameInstall &)> interfere;
    std::string line; // the warning's second line, %s the game folder
  };
  const std::vector<Case> cases = {
      {"replaced file held", [](const GameInstall &game) { return StartFileHolder(game.Game("a.bin")); },
       "元のファイルは名前の末尾に「_old」を付けて残っています。"},
      {"created file held", [](const GameInstall &game) { return StartFileHolder(game.Game("b.bin")); },
       "\"%s\\b.bin\"を削除できませんでした。"},
      {"backup deleted",
       [](const GameInstall &game) {
         DeleteFileA(game.Game("a.bin_old").c_str());
         return Process();
       },
       "\"%s\\a.bin\"の元のファイルが見つかりませんでした。"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    GameInstall game;
    game.AddGameWithList({{"a.bin", "old a"}, {"c.bin", "old c"}, {"c.bin_old", "player's"}});
    game.MakePackage({{"a.bin", "new a"}, {"b.bin", "new b"}, {"c.bin", "new c"}});
    Process process;
    ASSERT_TRUE(StartAndPressStart(game, &process));
    HWND failure = WaitForBox(process.pid);
    ASSERT_NE(nullptr, failure);
    Process holder = c.interfere(game);
    PressButton(failure, IDOK);
    WaitForWindowGone(failure, 10000);
    MessageBoxView warning = AnswerBox(process.pid);
    EXPECT_EQ("一部のファイルを元に戻せませんでした。\n" + WithPath(c.line.c_str(), game.game), warning.text);
    EXPECT_EQ(kIconWarning, warning.icon);
    ExpectExitsCleanly(process);
    KillProcess(holder);
  }
}

} // namespace

namespace {

// The package's data check: a byte damaged on the way fails its entry and the
// run rolls back; packages with the check and without it both install; a
// damaged check block is a damaged package.
TEST(DataCheck, ADamagedEntryRollsBackAndIntactPackagesInstall) {
  const std::vector<PackageItem> items = {{"a.bin", "new a"}, {"big.bin", PatternBytes(3 << 20, 4)}, {"c.bin", "c"}};
  std::string good = PackageBytesWithDataCheck(items);
  std::string damaged = good;
  damaged[5 + (2 << 20)] ^= 0x01; // a bit of big.bin, in its third chunk
  std::string bad_block = good;
  bad_block[bad_block.size() - 12 - 3] ^= 0x01; // the block's own hash

  GameInstall install;
  install.AddGameWithList({{"a.bin", "old a"}});
  auto before = install.Snapshot();
  install.WriteRawPackage(damaged);
  EXPECT_EQ(kFailedWriting + WithPath(kCopyFailed, install.Game("big.bin")), RunToTheEnd(install).text);
  EXPECT_EQ(before, install.Snapshot());

  install.WriteRawPackage(bad_block);
  Process process = StartUpdate(install);
  EXPECT_EQ(kPackageUnreadable, AnswerBox(process.pid).text);
  ExpectExitsCleanly(process);
  EXPECT_EQ(before, install.Snapshot());

  for (const std::string &package : {good, PackageBytes(items)}) {
    GameInstall fresh;
    fresh.AddGameWithList({{"a.bin", "old a"}});
    fresh.WriteRawPackage(package);
    EXPECT_EQ(kFinished, RunToTheEnd(fresh).text);
    EXPECT_EQ(PatternBytes(3 << 20, 4), ReadBytes(fresh.Game("big.bin")));
  }
}

} // namespace
