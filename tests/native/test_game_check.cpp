// mkupdate check on this machine's own folders: names found as Windows finds
// them on a file system that tells case apart, the player's path deciding
// the path limit, and an interrupted run's record read. What each outcome
// means for the real program is checked against it under Wine.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "journal/run_record_format.h"
#include "package_bytes.h"
#include "tools/mkupdate/game_check.h"

namespace fs = std::filesystem;

namespace {

struct Folders {
  fs::path root = fs::temp_directory_path() / ("game_check_" + std::to_string(getpid()));
  Folders() { fs::create_directories(root / "game"); }
  ~Folders() { fs::remove_all(root); }
  void Write(const std::string &relative, const std::string &bytes) const {
    fs::path path = root / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }
  GameCheck Check(const std::vector<PackageItem> &items, const std::string &target = "") const {
    Write("UPDATE.DAT", PackageBytesWithDataCheck(items));
    GameCheck check;
    EXPECT_TRUE(CheckAgainstGame((root / "UPDATE.DAT").string(), (root / "game").string(), target, &check))
        << check.error;
    return check;
  }
};

TEST(GameCheck, FindsNamesAsWindowsDoesAndFollowsEarlierEntries) {
  Folders folders;
  folders.Write("game/uinst.dat", std::string(1, '\0'));
  folders.Write("game/Data/Script.DAT", "old");
  folders.Write(u8"game/ｓａｖｅ/Ｘ.bin", "old"); // full-width letters fold too
  GameCheck check =
      folders.Check({{"data\\script.dat", "new"}, {"new\\a.bin", "a"}, {"new\\b.bin", "b"}, {"ＳＡＶＥ\\ｘ.bin", "x"}});
  ASSERT_EQ(4u, check.entries.size());
  EXPECT_EQ(kWouldReplace, check.entries[0].action);
  EXPECT_EQ(kWouldReplace, check.entries[3].action);
  EXPECT_EQ(kWouldCreate, check.entries[1].action);
  ASSERT_EQ(1u, check.entries[1].folders.size()); // the first file in it makes the folder
  EXPECT_TRUE(check.entries[2].folders.empty());
  EXPECT_FALSE(check.would_fail);
  // Without the player's path, the folder's own as Wine shows it.
  std::string wine_path = "Z:" + (folders.root / "game").string();
  for (char &c : wine_path)
    c = c == '/' ? '\\' : c;
  EXPECT_EQ(wine_path, check.target);
}

TEST(GameCheck, ThePlayersPathDecidesThePathLimit) {
  Folders folders;
  folders.Write("game/uinst.dat", std::string(1, '\0'));
  std::vector<PackageItem> items = {{std::string(240, 'n'), "x"}};
  EXPECT_FALSE(folders.Check(items, "C:\\G").would_fail);
  GameCheck deep = folders.Check(items, "C:\\" + std::string(30, 'd'));
  EXPECT_TRUE(deep.would_fail);
  EXPECT_EQ(0, deep.first_failing_entry);
  EXPECT_EQ(kWouldFail, deep.entries[0].action);
  EXPECT_NE(std::string::npos, deep.entries[0].reason.find("longer than 259 bytes"));
}

TEST(GameCheck, ReportsTheRecordOfAnInterruptedRun) {
  Folders folders;
  folders.Write("game/uinst.dat", std::string(1, '\0'));
  EXPECT_FALSE(folders.Check({{"a.bin", "a"}}).record_present);
  // Tags are not checked here: the key is the player's machine's.
  const std::string tag(kRecordTagBytes, 'x');
  std::string record = kRunRecordMagic + std::string(kRunIdBytes, 'i') + tag + 'L' + '\0' + tag;
  record += std::string("Ca.bin") + '\0' + tag + "Kuin1.tmp" + '\0' + tag;
  folders.Write("game/update.run", record);
  GameCheck check = folders.Check({{"a.bin", "a"}});
  EXPECT_TRUE(check.record_present && check.record_readable && check.record_committed);
  nlohmann::json json = nlohmann::json::parse(GameCheckJson(check));
  EXPECT_EQ("completes", json["run_record"]);
  EXPECT_EQ("a.bin", json["entries"][0]["name"]);
}

} // namespace
