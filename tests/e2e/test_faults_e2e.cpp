// Faults injected under the real program: a full disk, a file held open by
// another program, read-only files and folders, and the process killed at
// many points. Whatever happens, no byte of the game's old files is lost.
#include <gtest/gtest.h>

#include <cstdlib>

#include "e2e_support.h"

namespace {

struct Fault : InstallRun {
  void AddGameWithList(const std::map<std::string, std::string> &files) { install.AddGameWithList(files); }
  void ExpectFailureAndRollBack(const std::string &detail, const std::map<std::string, std::string> &before) {
    MessageBoxView box = RunToTheEnd(install);
    EXPECT_EQ(kFailedWriting + detail, box.text);
    EXPECT_EQ(kIconWarning, box.icon);
    EXPECT_EQ(before, install.Snapshot());
  }
};

TEST_F(Fault, DiskFullInTheMiddleOfALargeEntry) {
  SKIP_UNLESS_ROOT("mounts a small drive");
  SmallDrive drive(install.root.Join("small"), 2048);
  ASSERT_TRUE(drive.mounted);
  install.game = drive.folder + "\\game";
  CreateDirectoryA(install.game.c_str(), nullptr);
  SetDataDir(install.game);
  AddGameWithList({{"big.bin", PatternBytes(1200 * 1024, 1)}, {"a.txt", "old a"}});
  install.MakePackage({{"a.txt", "new a"}, {"big.bin", PatternBytes(3 << 20, 2)}, {"c.txt", "new c"}});
  auto before = install.Snapshot();
  ExpectFailureAndRollBack(WithPath(kCopyFailed, Game("big.bin")), before);
}

TEST_F(Fault, AFileHeldOpenWithoutShareDeleteIsNotReplaced) {
  AddGameWithList({{"a.bin", "old a"}, {"b.bin", "old b"}});
  install.MakePackage({{"a.bin", "new a"}, {"b.bin", "new b"}});
  auto before = install.Snapshot();
  Process holder = StartFileHolder(Game("b.bin"));
  ASSERT_NE(nullptr, holder.handle);
  ExpectFailureAndRollBack(WithPath(kBackupFailed, Game("b.bin")), before);
  KillProcess(holder);
}

TEST_F(Fault, AReadOnlyFileIsNotReplaced) {
  SKIP_UNLESS_ROOT("makes a file immutable");
  AddGameWithList({{"a.bin", "old a"}, {"b.bin", "old b"}});
  install.MakePackage({{"a.bin", "new a"}, {"b.bin", "new b"}});
  auto before = install.Snapshot();
  ASSERT_TRUE(SetImmutable(Game("b.bin"), true));
  ExpectFailureAndRollBack(WithPath(kBackupFailed, Game("b.bin")), before);
  SetImmutable(Game("b.bin"), false);
}

TEST_F(Fault, AReadOnlyFolderTakesNoNewFile) {
  SKIP_UNLESS_ROOT("makes a folder immutable");
  AddGameWithList({{"a.bin", "old a"}, {"sub\\old.bin", "old"}});
  install.MakePackage({{"a.bin", "new a"}, {"sub\\new.bin", "new"}});
  auto before = install.Snapshot();
  ASSERT_TRUE(SetImmutable(Game("sub"), true));
  // The file can't be created; the pass then tries to move it aside.
  ExpectFailureAndRollBack(WithPath(kBackupFailed, Game("sub\\new.bin")), before);
  SetImmutable(Game("sub"), false);
}

// What the game folder holds after an interrupted run was settled.
const char *StateName(const std::map<std::string, std::string> &now, const std::map<std::string, std::string> &before,
                      const std::map<std::string, std::string> &complete) {
  return now == before ? "before" : now == complete ? "complete" : "OTHER";
}

// Kills the program at points spread over a whole run, from the start click
// to past its final message (TerminateProcess: no code of the program runs
// any more), then starts it again. The second start settles what the first
// left: the folder is then exactly as before the run or as after a whole
// one, never between, and installing from there gives what an uninterrupted
// run gives. UPD_KILL_POINTS sets how many points (the long sweep of
// scripts/kill-sweep.sh); a few run in the test suite.
TEST_F(Fault, KilledAtAnyPointTheNextStartSettlesAndInstalls) {
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

  // One whole run first: how long a run takes, and what it leaves.
  AddGameWithList(old_files);
  auto before = install.Snapshot();
  Process process;
  ASSERT_TRUE(StartAndPressStart(install, &process));
  DWORD start = GetTickCount();
  ASSERT_NE(nullptr, WaitForBox(process.pid));
  DWORD whole = GetTickCount() - start;
  KillProcess(process);
  auto complete = install.Snapshot();
  ASSERT_NE(before, complete);

  int settled_wrong = 0, installed_wrong = 0;
  printf("kill point (ms of %lu) | second start says | settled to | then installed\n", whole);
  for (int point = 0; point < points; ++point) {
    RemoveTree(install.game);
    CreateDirectoryA(install.game.c_str(), nullptr);
    AddGameWithList(old_files);
    DWORD delay = whole * 11 / 10 * static_cast<DWORD>(point) / static_cast<DWORD>(points > 1 ? points - 1 : 1);
    ASSERT_TRUE(StartAndPressStart(install, &process));
    Sleep(delay);
    KillProcess(process);

    // The second start: a box about the interrupted run unless it had
    // nothing to settle, then the confirmation.
    process = StartUpdate(install);
    HWND confirm = nullptr;
    std::string said = "-";
    const char *settled = "?";
    for (DWORD begun = GetTickCount(); GetTickCount() - begun < 60000 && confirm == nullptr;) {
      if (HWND box = WaitForBox(process.pid, 0)) {
        MessageBoxView view = ReadMessageBox(box);
        if (view.text == WithPath(kUndoQuestion, install.game) ||
            view.text == WithPath(kCompleteQuestion, install.game)) {
          PressButton(box, IDYES); // settling is asked first
          WaitForWindowGone(box, 10000);
          continue;
        }
        said = view.text == kRolledBack ? "rolled back" : view.text == kCompleted ? "completed" : view.text;
        settled = StateName(install.Snapshot(), before, complete);
        PressButton(box, IDOK);
        WaitForWindowGone(box, 10000);
      }
      confirm = WaitForConfirm(process.pid, 50);
    }
    ASSERT_NE(nullptr, confirm) << "killed after " << delay << " ms: no confirmation (" << said << ")";
    if (said == "-")
      settled = StateName(install.Snapshot(), before, complete);
    PressButton(confirm, IDOK);
    MessageBoxView done = AnswerBox(process.pid);
    ExpectExitsCleanly(process);
    auto after = install.Snapshot();
    bool installed = done.text == kFinished && after == complete;
    if (!installed) {
      printf("  final message: %s\n", done.text.c_str());
      for (const auto &file : after)
        if (complete.count(file.first) == 0 || complete.at(file.first) != file.second)
          printf("  differs or extra: %s\n", file.first.c_str());
      for (const auto &file : complete)
        if (after.count(file.first) == 0)
          printf("  missing: %s\n", file.first.c_str());
    }
    printf("%10lu | %17s | %10s | %s\n", delay, said.c_str(), settled, installed ? "as a whole run" : "WRONG");
    settled_wrong += std::string(settled) == "OTHER";
    installed_wrong += !installed;
    EXPECT_STRNE("OTHER", settled) << "killed after " << delay << " ms";
    EXPECT_TRUE(installed) << "killed after " << delay << " ms";
  }
  printf("kill points %d, settled between the two states %d, installed wrong %d\n", points, settled_wrong,
         installed_wrong);
}

} // namespace
