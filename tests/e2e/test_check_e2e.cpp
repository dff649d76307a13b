// mkupdate check against the real program: for game folders set up for each
// outcome it predicts, the run of update.exe on the same folder ends as the
// check said, with the same words, after settling an interrupted run's record
// as the check said.
#include <gtest/gtest.h>

#include <functional>

#include "e2e_support.h"
#include "record_bytes.h"
#include "tools/mkupdate/encoding.h"
#include "tools/mkupdate/game_check.h"

namespace {

struct Case {
  const char *what;
  std::function<void(GameInstall &)> set_up; // the game folder and the package
  CheckedAction last_action;                 // what the check says of the last entry
  bool sealed_elsewhere = false;             // the run record's key is another machine's: the program refuses it
};

void WithList(GameInstall &install, const std::map<std::string, std::string> &files) { install.AddGameWithList(files); }

// The folder as a run killed after it replaced a.bin and created b.bin
// leaves it (with committed, after its new list was complete), its record
// made by record.
void KilledRun(GameInstall &g, bool committed, std::string (*record)(const Records &)) {
  WithList(g, {{"a.bin", "old a"}});
  g.AddGameFile("a.bin_old", "old a");
  g.AddGameFile("a.bin", "new a");
  g.AddGameFile("b.bin", "new b");
  Records records = {{'R', "a.bin"}, {'C', "b.bin"}};
  if (committed) {
    g.AddGameFile("uin1.tmp", ReadBytes(g.Game("uinst.dat")));
    records.insert(records.end(), {{'T', "uin1.tmp"}, {'K', "uin1.tmp"}});
  }
  g.AddGameFile("update.run", record(records));
  g.MakePackage({{"a.bin", "newer a"}, {"b.bin", "newer b"}});
}

std::string Sealed(const Records &records) { return SealedRecord(records); }
std::string SealedElsewhere(const Records &records) { return SealedRecord(records, false, &kOtherMachineSeal); }

// What the program says before its confirmation about a record of this fate.
std::string SaidAbout(RecordFate fate, const GameInstall &g) {
  switch (fate) {
  case kRecordCompleted:
    return WithPath(kCompleteQuestion, g.game) + " / " + kCompleted;
  case kRecordUndone:
    return WithPath(kUndoQuestion, g.game) + " / " + kRolledBack;
  case kRecordIgnored:
    return WithPath(kRecordRefused, g.Game("update.run"));
  default:
    return "";
  }
}

TEST(MkupdateCheck, PredictsWhatTheRunDoes) {
  const std::string long_name(240, 'n'); // joined, well over 259 bytes
  const std::vector<Case> cases = {
      {"creates and replaces",
       [](GameInstall &g) {
         WithList(g, {{"a.bin", "old"}, {"sub\\keep.bin", "k"}});
         g.MakePackage({{"a.bin", "new"}, {"sub\\new\\b.bin", "b"}});
       },
       kWouldCreate},
      {"a read-only file",
       [](GameInstall &g) {
         WithList(g, {{"ro.bin", "old"}});
         SetFileAttributesA(g.Game("ro.bin").c_str(), FILE_ATTRIBUTE_READONLY);
         g.MakePackage({{"ro.bin", "new"}});
       },
       kWouldReplace},
      {"another case on disk",
       [](GameInstall &g) {
         WithList(g, {{"Data\\Script.DAT", "old"}});
         g.MakePackage({{"data\\script.dat", "new"}});
       },
       kWouldReplace},
      {"a stale backup",
       [](GameInstall &g) {
         WithList(g, {{"a.bin", "old"}, {"c.bin", "old c"}, {"c.bin_old", "player's"}});
         g.MakePackage({{"a.bin", "new"}, {"c.bin", "new c"}});
       },
       kWouldFail},
      {"a folder in the way",
       [](GameInstall &g) {
         WithList(g, {{"x.bin\\inside.bin", "i"}});
         g.MakePackage({{"x.bin", "new"}});
       },
       kWouldFail},
      {"a folder missing two levels up",
       [](GameInstall &g) {
         WithList(g, {{"a.bin", "old"}});
         g.MakePackage({{"a.bin", "new"}, {"p\\q\\r.bin", "r"}});
       },
       kWouldFail},
      {"a path too long",
       [&](GameInstall &g) {
         WithList(g, {{"a.bin", "old"}});
         g.MakePackage({{"a.bin", "new"}, {long_name, "l"}});
       },
       kWouldFail},
      {"a committed record, its backup still there", [](GameInstall &g) { KilledRun(g, true, Sealed); }, kWouldReplace},
      {"an uncommitted record", [](GameInstall &g) { KilledRun(g, false, Sealed); }, kWouldCreate},
      {"a record of the old format", [](GameInstall &g) { KilledRun(g, true, PlainRecord); }, kWouldReplace},
      {"a record sealed on another machine", [](GameInstall &g) { KilledRun(g, true, SealedElsewhere); }, kWouldReplace,
       true},
      {"no uninstall list",
       [](GameInstall &g) {
         g.AddGameFile("a.bin", "old");
         g.MakePackage({{"a.bin", "new"}});
       },
       kWouldReplace},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    GameInstall install;
    c.set_up(install);
    GameCheck check;
    ASSERT_TRUE(CheckAgainstGame(install.program + "\\UPDATE.DAT", install.game, "", &check)) << check.error;
    ASSERT_FALSE(check.entries.empty());
    EXPECT_EQ(c.last_action, check.entries.back().action);
    if (c.sealed_elsewhere) {
      EXPECT_TRUE(check.record_unverified);
    }
    // A record the check can't verify: the program here refuses it.
    const RunEnd &end = c.sealed_elsewhere ? check.if_refused : check;
    std::string predicted = kFinished;
    if (end.would_fail) {
      ASSERT_TRUE(Utf8ToCp932(end.failure, &predicted));
    }
    Process process = StartUpdate(install);
    EXPECT_EQ(SaidAbout(c.sealed_elsewhere ? kRecordIgnored : check.record_fate, install),
              AnswerBoxesUpToTheConfirmation(process, IDOK));
    EXPECT_EQ(predicted, AnswerBox(process.pid).text);
    ExpectExitsCleanly(process);
  }
}

} // namespace
