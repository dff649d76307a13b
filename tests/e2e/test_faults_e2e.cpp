// Faults injected under the real program: a full disk, a file held open by
// another program, read-only files and folders, and the process killed at
// many points. Whatever happens, no byte of the game's old files is lost.
#include <gtest/gtest.h>

#include <cstdlib>

#include "e2e_support.h"

namespace {

const char kFailedWriting[] = "インストール中にエラーが発生しました。(書き込み中)\r\n";

struct Fault : ::testing::Test {
  GameInstall install;
  std::string Game(const std::string &name) const { return install.game + "\\" + name; }
  void AddGameWithList(const std::map<std::string, std::string> &files) {
    std::string list;
    for (const auto &file : files) {
      install.AddGameFile(file.first, file.second);
      list += "F" + Game(file.first) + std::string(1, '\0');
    }
    install.AddGameFile("uinst.dat", list + std::string(1, '\0'));
  }
  void ExpectFailureAndRollBack(const std::string &detail, const std::map<std::string, std::string> &before) {
    Process process;
    MessageBoxView box = StartConfirmAndAnswer(install, &process);
    EXPECT_EQ(std::string(kFailedWriting) + detail, box.text);
    EXPECT_EQ(kIconWarning, box.icon);
    ExpectExitsCleanly(process);
    EXPECT_EQ(before, install.Snapshot());
  }
};

TEST_F(Fault, DiskFullInTheMiddleOfALargeEntry) {
  SmallDrive drive(install.root.Join("small"), 2048);
  ASSERT_TRUE(drive.mounted) << "needs root to mount a tmpfs";
  install.game = drive.folder + "\\game";
  CreateDirectoryA(install.game.c_str(), nullptr);
  SetDataDir(install.game);
  AddGameWithList({{"big.bin", PatternBytes(1200 * 1024, 1)}, {"a.txt", "old a"}});
  install.MakePackage({{"a.txt", "new a"}, {"big.bin", PatternBytes(3 << 20, 2)}, {"c.txt", "new c"}});
  auto before = install.Snapshot();
  ExpectFailureAndRollBack("\"" + Game("big.bin") + "\"のコピーに失敗しました。", before);
}

TEST_F(Fault, AFileHeldOpenWithoutShareDeleteIsNotReplaced) {
  AddGameWithList({{"a.bin", "old a"}, {"b.bin", "old b"}});
  install.MakePackage({{"a.bin", "new a"}, {"b.bin", "new b"}});
  auto before = install.Snapshot();
  Process holder = StartFileHolder(Game("b.bin"));
  ASSERT_NE(nullptr, holder.handle);
  ExpectFailureAndRollBack("\"" + Game("b.bin") + "\"の退避に失敗しました。", before);
  KillProcess(holder);
}

TEST_F(Fault, AReadOnlyFileIsNotReplaced) {
  AddGameWithList({{"a.bin", "old a"}, {"b.bin", "old b"}});
  install.MakePackage({{"a.bin", "new a"}, {"b.bin", "new b"}});
  auto before = install.Snapshot();
  ASSERT_TRUE(SetImmutable(Game("b.bin"), true));
  ExpectFailureAndRollBack("\"" + Game("b.bin") + "\"の退避に失敗しました。", before);
  SetImmutable(Game("b.bin"), false);
}

TEST_F(Fault, AReadOnlyFolderTakesNoNewFile) {
  AddGameWithList({{"a.bin", "old a"}, {"sub\\old.bin", "old"}});
  install.MakePackage({{"a.bin", "new a"}, {"sub\\new.bin", "new"}});
  auto before = install.Snapshot();
  ASSERT_TRUE(SetImmutable(Game("sub"), true));
  // The file can't be created; the pass then tries to move it aside.
  ExpectFailureAndRollBack("\"" + Game("sub\\new.bin") + "\"の退避に失敗しました。", before);
  SetImmutable(Game("sub"), false);
}

// SIGKILL from the Linux side, as a crash or a killed Wine would end it: no
// code of the program runs any more. The Linux command line of a Wine
// process is its Windows path; its temporary folder name makes it unique.
void KillWithSigkill(const GameInstall &install) {
  std::string folder = install.root.path.substr(install.root.path.rfind('\\') + 1);
  RunUnixCommand("pkill -9 -f '" + folder + ".dist.update.exe'");
}

// Kills the program at points spread over a whole run (copy, list save,
// finishing) and checks that every old file can still be found, under its
// own name or as its backup, until the run has committed by saving the
// uninstall list; from then on a replaced file must hold its new content
// whole (the finishing pass only deletes backups). UPD_KILL_POINTS sets how many points (the
// long sweep of scripts/kill-sweep.sh); a few run in the test suite.
TEST_F(Fault, KilledAtAnyPointLosesNoOldFile) {
  const char *points_text = getenv("UPD_KILL_POINTS");
  int points = points_text ? atoi(points_text) : 4;
  std::map<std::string, std::string> old_files;
  for (int i = 0; i < 30; ++i)
    old_files["data\\file" + std::to_string(i) + ".bin"] = PatternBytes(64 * 1024 + i, i);
  std::map<std::string, std::string> package;
  for (int i = 0; i < 30; i += 2)
    package["data\\file" + std::to_string(i) + ".bin"] = PatternBytes(200 * 1024, 100 + i);
  package["music.ogg"] = PatternBytes(24 << 20, 7);
  package["new\\extra.bin"] = PatternBytes(4096, 9);
  install.MakePackage(package);

  // One whole run first, to know how long a run takes.
  AddGameWithList(old_files);
  std::string old_list = ReadBytes(Game("uinst.dat"));
  Process process = StartUpdate(install);
  HWND confirm = WaitForConfirm(process);
  ASSERT_NE(nullptr, confirm);
  DWORD start = GetTickCount();
  PressButton(confirm, IDOK);
  ASSERT_NE(nullptr, WaitForBox(process));
  DWORD whole = GetTickCount() - start;
  KillProcess(process);

  int lost = 0, recoverable = 0;
  printf("kill point (ms of %lu) | old intact | only as backup | updated | lost | list\n", whole);
  for (int point = 0; point < points; ++point) {
    RemoveTree(install.game);
    CreateDirectoryA(install.game.c_str(), nullptr);
    AddGameWithList(old_files);
    process = StartUpdate(install);
    confirm = WaitForConfirm(process);
    ASSERT_NE(nullptr, confirm);
    DWORD delay = whole * static_cast<DWORD>(point) / static_cast<DWORD>(points > 1 ? points - 1 : 1);
    PressButton(confirm, IDOK);
    Sleep(delay);
    KillWithSigkill(install);
    EXPECT_NE(STILL_ACTIVE, WaitForExit(process, 10000));
    KillProcess(process);
    std::string list = ReadBytes(Game("uinst.dat"));
    // The list is replaced whole or not at all; a new one means the run
    // had copied everything.
    bool committed = list != old_list;
    bool list_whole = !committed || (list.size() > old_list.size() &&
                                     list.compare(0, old_list.size() - 1, old_list, 0, old_list.size() - 1) == 0);
    int intact = 0, as_backup = 0, updated = 0, lost_here = 0;
    for (const auto &file : old_files) {
      std::string now = ReadBytes(Game(file.first));
      auto replacement = package.find(file.first);
      if (now == file.second)
        ++intact;
      else if (ReadBytes(Game(file.first + "_old")) == file.second)
        ++as_backup;
      else if (committed && replacement != package.end() && now == replacement->second)
        ++updated;
      else
        ++lost_here;
    }
    printf("%10lu | %10d | %14d | %7d | %4d | %s\n", delay, intact, as_backup, updated, lost_here,
           !list_whole ? "BROKEN"
           : committed ? "new"
                       : "old");
    EXPECT_EQ(0, lost_here) << "killed after " << delay << " ms";
    EXPECT_TRUE(list_whole) << "killed after " << delay << " ms";
    lost += lost_here;
    recoverable += intact + as_backup + updated;
  }
  printf("kill points %d, files recoverable %d, files lost %d\n", points, recoverable, lost);
}

} // namespace

namespace {

// A rollback that can't restore a file says so: the player must not believe
// everything is back when an old file waits under its backup name.
TEST_F(Fault, ARollbackThatCannotRestoreAFileSaysWhereItIs) {
  AddGameWithList({{"a.bin", "old a"}, {"c.bin", "old c"}, {"c.bin_old", "stale backup"}});
  install.MakePackage({{"a.bin", "new a"}, {"b.bin", "new b"}, {"c.bin", "new c"}});
  Process process;
  ASSERT_TRUE(StartAndPressStart(install, &process));
  HWND failure = WaitForBox(process);
  ASSERT_NE(nullptr, failure);
  // While the failure is shown, another program opens the new a.bin.
  Process holder = StartFileHolder(Game("a.bin"));
  ASSERT_NE(nullptr, holder.handle);
  PressButton(failure, IDOK);
  WaitForWindowGone(failure, 10000);
  MessageBoxView warning = AnswerBox(process);
  EXPECT_EQ("一部のファイルを元に戻せませんでした。\n元のファイルは名前の末尾に「_old」を付けて残っています。",
            warning.text);
  EXPECT_EQ(kIconWarning, warning.icon);
  ExpectExitsCleanly(process);
  KillProcess(holder);
  EXPECT_EQ("new a", ReadBytes(Game("a.bin")));
  EXPECT_EQ("old a", ReadBytes(Game("a.bin_old")));
  EXPECT_FALSE(FileExists(Game("b.bin")));
}

} // namespace
