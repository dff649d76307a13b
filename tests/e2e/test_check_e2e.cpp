// mkupdate check against the real program: for game folders set up for each
// outcome it predicts, the run of update.exe on the same folder ends as the
// check said, with the same words.
#include <gtest/gtest.h>

#include <functional>

#include "e2e_support.h"
#include "tools/mkupdate/encoding.h"
#include "tools/mkupdate/game_check.h"

namespace {

struct Case {
  const char *what;
  std::function<void(GameInstall &)> set_up; // the game folder and the package
  CheckedAction last_action;                 // what the check says of the last entry
};

void WithList(GameInstall &install, const std::map<std::string, std::string> &files) { install.AddGameWithList(files); }

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
    std::string predicted = kFinished;
    if (check.would_fail) {
      ASSERT_TRUE(Utf8ToCp932(check.failure, &predicted));
    }
    EXPECT_EQ(predicted, RunToTheEnd(install).text);
  }
}

} // namespace
