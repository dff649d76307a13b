// Power cuts under the real program: the game folder lies on the power-cut
// simulator (tests/powercut), which scripts/powercut-sweep.sh mounts behind
// the drive named by UPD_POWERCUT_DRIVE. Without that drive the test is
// skipped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <set>
#include <vector>

#include "e2e_support.h"

namespace {

using Files = std::map<std::string, std::string>;

// The simulator's control file: commands in, its state out.
struct Simulator {
  std::string control;
  void Command(const std::string &text) const {
    HANDLE file = CreateFileA(control.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << control;
    std::string line = text + "\n";
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
  }
  // Cuts so far, changing calls since the restore, what the last cut dropped.
  std::string State(int *cuts = nullptr, long *calls = nullptr) const {
    std::string text = ReadBytes(control);
    if (cuts != nullptr)
      *cuts = atoi(text.c_str());
    size_t space = text.find(' ');
    if (calls != nullptr)
      *calls = space == std::string::npos ? 0 : atol(text.c_str() + space + 1);
    size_t second = space == std::string::npos ? space : text.find(' ', space + 1);
    std::string what = second == std::string::npos ? "" : text.substr(second + 1);
    while (!what.empty() && (what.back() == '\n' || what.back() == '\r'))
      what.pop_back();
    return what;
  }
  int Cuts() const {
    int cuts = 0;
    State(&cuts);
    return cuts;
  }
};

const char *StateName(const Files &now, const Files &before, const Files &complete) {
  return now == before ? "before" : now == complete ? "complete" : "OTHER";
}

// Old files whose content is nowhere in the folder any more while their
// name does not hold the new content either.
int CountLost(const Files &now, const Files &old_files, const Files &complete) {
  std::set<std::string> contents;
  for (const auto &file : now)
    contents.insert(file.second);
  int lost = 0;
  for (const auto &file : old_files) {
    bool updated = now.count(file.first) && now.at(file.first) == complete.at(file.first);
    lost += contents.count(file.second) == 0 && !updated;
  }
  return lost;
}

// Files of the game (the list included) that hold neither their content
// before the run nor after it; a file absent before may be absent.
int CountDamaged(const Files &now, const Files &before, const Files &complete) {
  std::set<std::string> names;
  for (const auto &file : before)
    names.insert(file.first);
  for (const auto &file : complete)
    names.insert(file.first);
  int damaged = 0;
  for (const std::string &name : names) {
    auto at = [&](const Files &files) {
      return files.count(name) ? files.at(name)
                               : std::string("\x01"
                                             "absent");
    };
    std::string value = at(now);
    damaged += value != at(before) && value != at(complete);
  }
  return damaged;
}

struct PointResult {
  std::string said = "-";
  std::string settled = "?";
  int lost = 0, damaged = 0;
  bool installed = false;
};

struct PowerCut : InstallRun {
  Simulator simulator;
  Files old_files, before, complete;
  long settle_calls = 0; // changing calls of the last settling seen

  void Reset() {
    RemoveTree(install.game);
    CreateDirectoryA(install.game.c_str(), nullptr);
    install.AddGameWithList(old_files);
    simulator.Command("sync");
  }

  // Power goes off, the program is killed (nothing it does after the cut
  // reaches the disk), and the machine starts again.
  std::string CutAndRestart(Process &process, const char *keep) {
    simulator.Command(std::string("cut ") + keep);
    KillProcess(process);
    std::string dropped = simulator.State();
    simulator.Command("restore");
    return dropped;
  }

  // A start that settles what the cut left (the box about the interrupted
  // run, if any, is where the folder is classified), then installs.
  PointResult SettleAndInstall(Process process) {
    PointResult result;
    HWND confirm = nullptr;
    for (DWORD begun = GetTickCount(); GetTickCount() - begun < 60000 && confirm == nullptr;) {
      if (HWND box = WaitForBox(process.pid, 0)) {
        MessageBoxView view = ReadMessageBox(box);
        if (IsSettlingQuestion(view.text)) {
          PressButton(box, IDYES); // settling is asked first
          WaitForWindowGone(box, 10000);
          continue;
        }
        result.said = view.text == kRolledBack ? "rolled back" : view.text == kCompleted ? "completed" : view.text;
        Classify(&result);
        simulator.State(nullptr, &settle_calls);
        PressButton(box, IDOK);
        WaitForWindowGone(box, 10000);
      }
      confirm = WaitForConfirm(process.pid, 50);
    }
    if (confirm == nullptr) {
      ADD_FAILURE() << "no confirmation after the cut (" << result.said << ")";
      KillProcess(process);
      return result;
    }
    if (result.said == "-")
      Classify(&result);
    PressButton(confirm, IDOK);
    MessageBoxView done = AnswerBox(process.pid);
    ExpectExitsCleanly(process);
    Files after = install.Snapshot();
    result.installed = done.text == kFinished && after == complete;
    if (!result.installed)
      printf("  then: %s\n", done.text.c_str());
    return result;
  }

  bool IsSettlingQuestion(const std::string &text) const {
    return text == WithPath(kUndoQuestion, install.game) || text == WithPath(kCompleteQuestion, install.game);
  }

  void Classify(PointResult *result) {
    Files now = install.Snapshot();
    result->settled = StateName(now, before, complete);
    result->lost = CountLost(now, old_files, complete);
    result->damaged = CountDamaged(now, before, complete);
    if (result->settled == std::string("OTHER")) {
      for (const auto &file : now)
        if (complete.count(file.first) == 0 && before.count(file.first) == 0)
          printf("  extra: %s (%zu bytes)\n", file.first.c_str(), file.second.size());
    }
  }

  // The second start, cut itself after `calls` changing calls (while it
  // settles); the third then settles and installs. Without the cut (the
  // settling needed fewer calls) the second start goes on as any.
  PointResult CutTheSettling(long calls, const char *keep, bool *cut) {
    int cuts = simulator.Cuts();
    simulator.Command("arm " + std::to_string(calls) + " " + keep);
    Process process = StartUpdate(install);
    for (DWORD begun = GetTickCount(); GetTickCount() - begun < 30000 && simulator.Cuts() == cuts;) {
      if (HWND box = WaitForBox(process.pid, 0)) {
        if (!IsSettlingQuestion(ReadMessageBox(box).text))
          break;
        PressButton(box, IDYES);
        WaitForWindowGone(box, 10000);
        continue;
      }
      if (WaitForConfirm(process.pid, 20) != nullptr)
        break;
    }
    *cut = simulator.Cuts() != cuts;
    if (!*cut) {
      simulator.Command("disarm");
      return SettleAndInstall(process);
    }
    KillProcess(process);
    simulator.Command("restore");
    return SettleAndInstall(StartUpdate(install));
  }
};

// Cuts the power at points spread over a whole run, from the start click to
// past its final message, by time and by the count of changing calls (and
// at each of the run's last calls), keeping all, none or half of the name
// changes not yet committed; one point in four cuts the next start's
// settling as well.
// After the machine starts again, the next start must settle the folder to
// exactly its state before the run or after a whole one, no old content may
// be gone and no file hold anything else, and installing from there must give
// what an uninterrupted run gives. UPD_POWERCUT_POINTS and UPD_POWERCUT_CALL_POINTS set how many points.
TEST_F(PowerCut, AtAnyInstantTheNextStartSettlesAndInstalls) {
  const char *drive = getenv("UPD_POWERCUT_DRIVE");
  if (drive == nullptr)
    GTEST_SKIP() << "needs the power-cut drive (scripts/powercut-sweep.sh)";
  const char *points_text = getenv("UPD_POWERCUT_POINTS");
  const char *call_points_text = getenv("UPD_POWERCUT_CALL_POINTS");
  int points = points_text ? atoi(points_text) : 4;
  int call_points = call_points_text ? atoi(call_points_text) : 3;
  simulator.control = std::string(drive) + "\\.powercut";
  install.game = std::string(drive) + "\\game";
  SetDataDir(install.game);

  // 40 entries: 20 files replaced, 20 new (two empty, some in a new folder),
  // a few large enough for cuts to land inside their copy.
  Files package;
  for (int i = 0; i < 20; ++i) {
    std::string name = "data\\r" + std::to_string(i / 10) + std::to_string(i % 10) + ".bin";
    size_t old_size = i == 3 || i == 12 ? (3 << 20) : 96 * 1024 + i;
    old_files[name] = PatternBytes(old_size, i);
    package[name] = PatternBytes(i == 7 ? (5 << 20) : 128 * 1024 + i, 100 + i);
  }
  old_files["data\\kept.bin"] = PatternBytes(4096, 50);
  for (int i = 0; i < 20; ++i) {
    std::string name = (i < 10 ? "data\\n" : "extra\\n") + std::to_string(i / 10) + std::to_string(i % 10) + ".bin";
    size_t size = i == 4 || i == 15 ? 0 : i == 9 ? (6 << 20) : i == 17 ? (4 << 20) : 32 * 1024 + i;
    package[name] = PatternBytes(size, 200 + i);
  }
  install.MakePackage(package);

  // One whole run first: how long it takes, how many changing calls it
  // makes, and what it leaves.
  Reset();
  before = install.Snapshot();
  Process process;
  ASSERT_TRUE(StartAndPressStart(install, &process));
  DWORD start = GetTickCount();
  ASSERT_NE(nullptr, WaitForBox(process.pid));
  DWORD whole = GetTickCount() - start;
  long whole_calls = 0;
  simulator.State(nullptr, &whole_calls);
  KillProcess(process);
  simulator.Command("sync");
  complete = install.Snapshot();
  ASSERT_NE(before, complete);

  // Points in time, then points counted in changing calls (the same number
  // again spread over the run, and each of its last calls: its finishing).
  struct CutPoint {
    DWORD ms;
    long calls; // -1: cut by time
  };
  std::vector<CutPoint> cuts;
  for (int point = 0; point < points; ++point)
    cuts.push_back({whole * 11 / 10 * static_cast<DWORD>(point) / static_cast<DWORD>(points > 1 ? points - 1 : 1), -1});
  for (int point = 0; point < call_points; ++point)
    cuts.push_back({0, whole_calls * point / call_points});
  for (long call = std::max(0L, whole_calls - call_points / 3); call_points > 0 && call <= whole_calls; ++call)
    cuts.push_back({0, call});

  static const char *const keeps[] = {"all", "none", "0.5"};
  int other = 0, lost = 0, damaged = 0, wrong = 0, settles_cut = 0;
  printf("point | cut at (of %lu ms, %ld calls) | names kept | what the cut left | second start says | settled to | "
         "lost | damaged | then installed\n",
         whole, whole_calls);
  for (size_t point = 0; point < cuts.size(); ++point) {
    Reset();
    const char *keep = keeps[point % 3];
    const CutPoint &cut = cuts[point];
    std::string at = cut.calls < 0 ? std::to_string(cut.ms) + " ms" : "call " + std::to_string(cut.calls);
    if (cut.calls >= 0)
      simulator.Command("arm " + std::to_string(cut.calls) + " " + keep);
    int cuts_before = simulator.Cuts();
    ASSERT_TRUE(StartAndPressStart(install, &process));
    if (cut.calls < 0) {
      Sleep(cut.ms);
    } else {
      // Until the cut, or the final message when the run made fewer calls.
      for (DWORD begun = GetTickCount(); GetTickCount() - begun < 30000 && simulator.Cuts() == cuts_before;) {
        if (WaitForBox(process.pid, 20) != nullptr)
          break;
      }
    }
    std::string dropped = CutAndRestart(process, keep);
    PointResult result;
    bool settle_cut = false;
    if (point % 4 == 3 && settle_calls > 0) {
      long calls = 1 + (settle_calls - 1) * static_cast<long>((point / 4) % 5 + 1) / 6;
      result = CutTheSettling(calls, keeps[(point / 4) % 3], &settle_cut);
      settles_cut += settle_cut;
      if (settle_cut)
        dropped += "; settling cut after " + std::to_string(calls) + " calls";
    } else {
      result = SettleAndInstall(StartUpdate(install));
    }
    printf("%5zu | %9s | %4s | %s | %s | %s | %d | %d | %s\n", point, at.c_str(), keep, dropped.c_str(),
           result.said.c_str(), result.settled.c_str(), result.lost, result.damaged,
           result.installed ? "as a whole run" : "WRONG");
    fflush(stdout);
    other += result.settled == "OTHER";
    lost += result.lost;
    damaged += result.damaged;
    wrong += !result.installed;
    EXPECT_STRNE("OTHER", result.settled.c_str()) << "cut at " << at;
    EXPECT_EQ(0, result.lost) << "cut at " << at;
    EXPECT_EQ(0, result.damaged) << "cut at " << at;
    EXPECT_TRUE(result.installed) << "cut at " << at;
  }
  printf("cut points %zu (settling cut too at %d): settled to anything else %d, files lost %d, files damaged %d, "
         "installed wrong %d\n",
         cuts.size(), settles_cut, other, lost, damaged, wrong);
}

} // namespace
