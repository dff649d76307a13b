// Runs that meet an ordinary Windows condition or are cut short, through the
// real program: the next start settles what a killed run left, read-only
// files and a list held open by another program don't strand the game, and
// every rollback warning says what really happened.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "e2e_support.h"
#include "list_bytes.h"
#include "package_bytes.h"
#include "record_bytes.h"

namespace {

const char kNotUndonePrefix[] = "前回中断されたインストールを元に戻せませんでした。";
const char kNotUndone[] =
    "前回中断されたインストールを元に戻せませんでした。\n\"%s\"を使用しているプログラムを終了してから"
    "、もう一度実行してください。";

int CollectRecord(void *context, char kind, const char *path, size_t length) {
  static_cast<Records *>(context)->emplace_back(kind, std::string(path, length));
  return 0;
}

uint64_t SizeOf(const std::string &path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
    return 0;
  return static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

std::string BoxesUpToTheConfirmation(const GameInstall &game);

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

  // Starts the program and expects the question about the interrupted run
  // naming the folder (answered yes), then the box that says how it was
  // settled, the folder already settled when it shows, then the
  // confirmation (cancelled). A record that names nothing is not asked about.
  void ExpectSettledBy(const std::string &message, const std::map<std::string, std::string> &expected) {
    ExpectSettledIn(install, message, expected);
  }
  static void ExpectSettledIn(const GameInstall &install, const std::string &message,
                              const std::map<std::string, std::string> &expected, bool asked = true) {
    Process process = StartUpdate(install);
    if (asked) {
      HWND question = WaitForBox(process.pid);
      ASSERT_NE(nullptr, question);
      EXPECT_EQ(WithPath(message == kRolledBack ? kUndoQuestion : kCompleteQuestion, install.game),
                ReadMessageBox(question).text);
      PressButton(question, IDYES);
      WaitForWindowGone(question, 10000);
    }
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
  EXPECT_EQ(WithPath(kUndoQuestion, install.game), AnswerBox(process.pid, IDYES).text);
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
// And the record of a run that had put its new list in place, cut before
// its commit mark: undone, with the old list back from the copy the run kept.
TEST_F(Recovery, AKillAfterTheCommitPointIsCompletedByTheNextStart) {
  for (bool commit_mark_cut : {false, true}) {
    SCOPED_TRACE(commit_mark_cut);
    GameInstall game;
    game.AddGameWithList({{"a.bin", "old a"}});
    std::string list = ReadBytes(game.Game("uinst.dat"));
    std::string new_list = list.substr(0, list.size() - 1) + ListEntry("F", game.Game("b.bin")) + kListEnd;
    game.AddGameFile("a.bin_old", "old a");
    game.AddGameFile("a.bin", "new a");
    game.AddGameFile("b.bin", "new b");
    game.AddGameFile(commit_mark_cut ? "uinst.dat" : "uin1.tmp", new_list);
    game.AddGameFile("uin2.tmp", list);
    game.MakePackage({{"a.bin", "new a"}, {"b.bin", "new b"}});
    Records records = {{'R', "a.bin"},    {'C', "b.bin"},    {'T', "uin1.tmp"},
                       {'P', "uin2.tmp"}, {'P', "uin2.tmp"}, {'K', "uin1.tmp"}};
    if (commit_mark_cut)
      records.pop_back();
    game.AddGameFile("update.run", SealedRecord(records));
    ExpectSettledIn(game, commit_mark_cut ? kRolledBack : kCompleted,
                    commit_mark_cut ? std::map<std::string, std::string>{{"a.bin", "old a"}, {"uinst.dat", list}}
                                    : std::map<std::string, std::string>{
                                          {"a.bin", "new a"}, {"b.bin", "new b"}, {"uinst.dat", new_list}});
  }
}

// A record cut short: inside its header (a kill while it was written, or
// anything later) or before its plan's end. With no backup in the folder the
// run had changed nothing, and the record goes without a word; beside a
// backup it was cut after the run's changes, and is refused with a warning.
TEST_F(Recovery, ARecordCutBeforeItsPlansEndIsNeverTakenAtItsWord) {
  for (size_t cut : {0, 8, 30, 56, 85, 120}) {
    for (bool backup : {false, true}) {
      SCOPED_TRACE(std::to_string(cut) + (backup ? " beside a backup" : ""));
      GameInstall game;
      const std::string whole = SealedRecord({{'R', "a.bin"}, {'T', "uin1.tmp"}});
      game.AddGameWithList({{"a.bin", "new a"}});
      if (backup)
        game.AddGameFile("a.bin_old", "old a");
      game.MakePackage({{"b.bin", "b"}});
      auto before = game.Snapshot();
      std::string record = cut < 120
                               ? whole.substr(0, cut)
                               : whole.substr(0, kRunRecordHeaderBytes) + whole.substr(kRunRecordHeaderBytes + 34);
      game.AddGameFile("update.run", record);
      EXPECT_EQ(backup ? WithPath(kRecordCut, game.Game("update.run")) : "", BoxesUpToTheConfirmation(game));
      auto after = game.Snapshot();
      EXPECT_EQ(backup, after.erase("update.run") == 1); // refused records stay, for the next run to replace
      EXPECT_EQ(before, after);
    }
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

// Starts the program, answers every box until the confirmation (cancelled)
// or its end, and returns what the boxes said, joined by " / ".
std::string BoxesUpToTheConfirmation(const GameInstall &game) {
  Process process = StartUpdate(game);
  std::string said = AnswerBoxesUpToTheConfirmation(process, IDCANCEL);
  ExpectExitsCleanly(process);
  return said;
}

// What changed between two snapshots: "-name", "+name", "~name".
std::string Changes(const std::map<std::string, std::string> &before, const std::map<std::string, std::string> &after) {
  std::string changes;
  for (const auto &file : before) {
    auto now = after.find(file.first);
    if (now == after.end())
      changes += " -" + file.first;
    else if (now->second != file.second)
      changes += " ~" + file.first;
  }
  for (const auto &file : after) {
    if (before.count(file.first) == 0)
      changes += " +" + file.first;
  }
  return changes.empty() ? " none" : changes;
}

// Every file and folder under a folder (folders as "name\").
std::map<std::string, std::string> TreeOf(const std::string &folder, const std::string &prefix = "") {
  std::map<std::string, std::string> tree;
  ForEachName(folder, [&](const std::string &name, bool is_folder) {
    if (name == "update.run" && prefix.empty())
      return; // the record itself
    if (is_folder) {
      tree[prefix + name + "\\"] = "";
      if (name != "link")
        for (const auto &inner : TreeOf(folder + "\\" + name, prefix + name + "\\"))
          tree.insert(inner);
    } else {
      tree[prefix + name] = ReadBytes(folder + "\\" + name);
    }
  });
  return tree;
}

// Run records written by hand (or by anything but this program on this
// machine), and records of this program that name paths outside the data
// directory or through a link: none of them changes a file, inside the game
// folder or outside it; the start says which record it ignored and goes on.
TEST(ForgedRecords, ChangeNothingInsideOrOutsideTheGameFolder) {
  struct Row {
    const char *what;
    // The records, from the game folder and the outside folder; "@" stands
    // for the game folder's path in a plain record and is left out (a
    // relative path) in a sealed one.
    std::function<Records(const std::string &game, const std::string &outside)> records;
    bool sealed_too; // also sealed with this machine's key: the path alone must be refused
  };
  auto at = [](const char *relative) { return std::string("@\\") + relative; };
  const std::vector<Row> rows = {
      {"C traversal \\",
       [&](auto &, auto &) {
         return Records{{'C', at("..\\outside\\victim.txt")}};
       },
       true},
      {"C traversal /",
       [&](auto &, auto &) {
         return Records{{'C', at("../outside/victim.txt")}};
       },
       true},
      {"C traversal sub",
       [&](auto &, auto &) {
         return Records{{'C', at("sub\\..\\..\\outside\\victim.txt")}};
       },
       true},
      {"R outside",
       [&](auto &, auto &) {
         return Records{{'R', at("..\\outside\\victim.txt")}};
       },
       true},
      {"R+K outside",
       [&](auto &, auto &) {
         return Records{{'R', at("..\\outside\\victim.txt")}, {'K', at("..\\outside\\victim2.txt")}};
       },
       true},
      {"T outside",
       [&](auto &, auto &) {
         return Records{{'T', at("..\\outside\\victim.txt")}};
       },
       true},
      {"D outside",
       [&](auto &, auto &) {
         return Records{{'D', at("..\\outside\\folder")}};
       },
       true},
      {"C through a link",
       [&](auto &, auto &) {
         return Records{{'C', at("link\\victim.txt")}};
       },
       true},
      {"R through a link",
       [&](auto &, auto &) {
         return Records{{'R', at("link\\victim.txt")}};
       },
       true},
      {"D the link",
       [&](auto &, auto &) {
         return Records{{'D', at("link")}};
       },
       true},
      {"C absolute",
       [&](auto &, auto &o) {
         return Records{{'C', o + "\\victim.txt"}};
       },
       true},
      {"C other drive",
       [&](auto &, auto &o) {
         return Records{{'C', "Z:" + UnixPathOf(o + "\\victim.txt")}};
       },
       true},
      {"C UNC",
       [&](auto &, auto &) {
         return Records{{'C', "\\\\127.0.0.1\\c$\\victim.txt"}};
       },
       true},
      {"C \\\\?\\",
       [&](auto &, auto &o) {
         return Records{{'C', "\\\\?\\" + o + "\\victim.txt"}};
       },
       true},
      {"C save.dat",
       [&](auto &, auto &) {
         return Records{{'C', at("save.dat")}};
       },
       false},
      {"T save.dat",
       [&](auto &, auto &) {
         return Records{{'T', at("save.dat")}};
       },
       true},
      {"K save.dat",
       [&](auto &, auto &) {
         return Records{{'K', at("save.dat")}};
       },
       true},
  };
  auto plain = [](const Records &records, const std::string &game) {
    Records out;
    for (auto record : records) {
      if (record.second.rfind("@", 0) == 0)
        record.second = game + record.second.substr(1);
      out.push_back(record);
    }
    return PlainRecord(out);
  };
  auto sealed = [](const Records &records, const RecordSeal *seal) {
    Records out;
    for (auto record : records) {
      if (record.second.rfind("@\\", 0) == 0)
        record.second = record.second.substr(2);
      out.push_back(record);
    }
    return SealedRecord(out, false, seal);
  };
  // Another machine's key, and none at all.
  RecordSeal no_key = {[](void *, const unsigned char *, const unsigned char *, size_t, unsigned char *out) {
                         std::memset(out, 0, kRecordTagBytes);
                       },
                       nullptr};
  struct Attempt {
    std::string what;
    std::function<std::string(const std::string &game, const std::string &outside)> bytes;
  };
  std::vector<Attempt> attempts;
  for (const Row &row : rows) {
    attempts.push_back(
        {std::string(row.what) + " | plain", [&row, plain](auto &g, auto &o) { return plain(row.records(g, o), g); }});
    if (row.sealed_too)
      attempts.push_back({std::string(row.what) + " | sealed",
                          [&row, sealed](auto &g, auto &o) { return sealed(row.records(g, o), nullptr); }});
  }
  attempts.push_back({"C a.bin | other machine's key", [&](auto &, auto &) {
                        return sealed({{'C', "@\\a.bin"}}, &kOtherMachineSeal);
                      }});
  attempts.push_back({"C a.bin | without the key", [&](auto &, auto &) {
                        return sealed({{'C', "@\\a.bin"}}, &no_key);
                      }});

  for (const Attempt &attempt : attempts) {
    SCOPED_TRACE(attempt.what);
    GameInstall game;
    std::string outside = game.root.Join("outside");
    CreateDirectoryA(outside.c_str(), nullptr);
    CreateDirectoryA((outside + "\\folder").c_str(), nullptr);
    WriteBytes(outside + "\\victim.txt", "victim");
    WriteBytes(outside + "\\victim.txt_old", "victim's old");
    WriteBytes(outside + "\\victim2.txt", "victim 2");
    game.AddGameWithList({{"a.bin", "old a"}, {"save.dat", "the player's save"}});
    game.MakePackage({{"a.bin", "new a"}});
    ASSERT_EQ(0, RunUnixCommand("ln -s '" + UnixPathOf(outside) + "' '" + UnixPathOf(game.game) + "/link'"));
    game.AddGameFile("update.run", attempt.bytes(game.game, outside));
    auto game_before = TreeOf(game.game), outside_before = TreeOf(outside);
    std::string said = BoxesUpToTheConfirmation(game);
    std::string game_changes = Changes(game_before, TreeOf(game.game));
    std::string outside_changes = Changes(outside_before, TreeOf(outside));
    printf("%s | %s | game:%s | outside:%s\n", attempt.what.c_str(), said.c_str(), game_changes.c_str(),
           outside_changes.c_str());
    EXPECT_EQ(WithPath(kRecordRefused, game.Game("update.run")), said);
    EXPECT_EQ(" none", game_changes);
    EXPECT_EQ(" none", outside_changes);
  }
}

// Links below the data directory, made on the Linux side (under Wine a link
// to a folder shows the reparse bit, one to a file does not): no run, no
// settling and no save of the list acts through one. Nothing outside changes.
TEST(Links, AreNeverActedThrough) {
  struct Row {
    const char *what;
    std::function<void(GameInstall &, const std::string &outside)> make;
    std::function<bool(GameInstall &)> said_as_expected; // what the program said, started and confirmed
  };
  auto ln = [](const std::string &options, const std::string &target, const std::string &link) {
    ASSERT_EQ(0, RunUnixCommand("ln " + options + " '" + UnixPathOf(target) + "' '" + UnixPathOf(link) + "'"));
  };
  auto run = [](GameInstall &game) { return RunToTheEnd(game).text; };
  auto start = [](GameInstall &game) { return BoxesUpToTheConfirmation(game); };
  const std::vector<Row> rows = {
      {"an entry's folder",
       [&](GameInstall &g, auto &o) {
         ln("-s", o, g.Game("sub"));
         g.MakePackage({{"sub\\b.bin", "b"}, {"sub\\c.bin", "c"}});
       },
       [&](GameInstall &g) { return run(g) == kFailedWriting + WithPath(kCreateFailed, g.Game("sub\\b.bin")); }},
      {"a replaced file",
       [&](GameInstall &g, auto &o) {
         ln("-s", o + "\\c.bin", g.Game("v.txt"));
         g.MakePackage({{"v.txt", "v"}});
       },
       [&](GameInstall &g) { return run(g) == kFailedWriting + WithPath(kBackupFailed, g.Game("v.txt")); }},
      {"update.run", [&](GameInstall &g, auto &o) { ln("-s", o + "\\c.bin", g.Game("update.run")); },
       [&](GameInstall &g) { return start(g) == WithPath(kRecordNotAFile, g.Game("update.run")); }},
      {"a folder named update.run",
       [&](GameInstall &g, auto &) { CreateDirectoryA(g.Game("update.run").c_str(), nullptr); },
       [&](GameInstall &g) { return start(g) == WithPath(kRecordNotAFile, g.Game("update.run")); }},
      {"uinst.dat",
       [&](GameInstall &g, auto &o) {
         DeleteFileA(g.Game("uinst.dat").c_str());
         ln("-s", o + "\\list", g.Game("uinst.dat"));
       },
       [&](GameInstall &g) { return run(g) == kListUnreadable; }},
      {"uinst.dat, a second name of a file outside, held open",
       [&](GameInstall &g, auto &o) {
         DeleteFileA(g.Game("uinst.dat").c_str());
         ln("", o + "\\list", g.Game("uinst.dat"));
       },
       [&](GameInstall &g) {
         Process holder = StartFileHolder(g.Game("uinst.dat"));
         bool refused = run(g) == kFailedWriting + WithPath(kCannotWrite, g.Game("uinst.dat"));
         KillProcess(holder);
         return refused;
       }},
      {"swapped in while the settling question is up",
       [&](GameInstall &g, auto &o) {
         g.AddGameFile("sub\\s.bin", "new s");
         g.AddGameFile("sub\\t.bin", "new t");
         g.AddGameFile("sub\\t.bin_old", "old t");
         g.AddGameFile("update.run", SealedRecord({{'R', "sub\\t.bin"}, {'W', "sub\\s.bin"}, {'C', "sub\\s.bin"}}));
       },
       [&](GameInstall &g) {
         Process process = StartUpdate(g);
         HWND question = WaitForBox(process.pid);
         MoveFileA(g.Game("sub").c_str(), g.Game("moved").c_str());
         ln("-s", g.root.Join("outside"), g.Game("sub"));
         PressButton(question, IDYES);
         WaitForWindowGone(question, 10000);
         std::string said = AnswerBox(process.pid).text;
         ExpectExitsCleanly(process);
         return said.rfind(kNotUndonePrefix, 0) == 0;
       }},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.what);
    GameInstall game;
    std::string outside = game.root.Join("outside");
    CreateDirectoryA(outside.c_str(), nullptr);
    for (const char *name : {"c.bin", "s.bin", "t.bin", "t.bin_old", "list"})
      WriteBytes(outside + "\\" + name, std::string("outside ") + name);
    game.AddGameWithList({{"a.bin", "old a"}});
    row.make(game, outside);
    if (!FileExists(game.program + "\\UPDATE.DAT"))
      game.MakePackage({{"a.bin", "new a"}});
    auto outside_before = TreeOf(outside);
    EXPECT_TRUE(row.said_as_expected(game));
    EXPECT_EQ(" none", Changes(outside_before, TreeOf(outside)));
  }
}

// A file the player has at a name the run was to create, made during the
// run (before or after the run came to it) or after the kill, is the
// player's: settling keeps it and says so where the run never came to it.
TEST_F(Recovery, AFileThePlayerMadeWhereTheRunWasToCreateOneStays) {
  for (bool run_came_to_it : {false, true}) {
    SCOPED_TRACE(run_came_to_it);
    GameInstall game;
    game.AddGameWithList({{"keep.txt", "kept"}});
    game.MakePackage({{"a.bin", PatternBytes(24 << 20, 1)}, {"new.txt", "new"}, {"z.bin", PatternBytes(48 << 20, 2)}});
    auto before = game.Snapshot();
    Process process;
    ASSERT_TRUE(StartAndPressStart(game, &process));
    bool written = false;
    for (DWORD begun = GetTickCount(); GetTickCount() - begun < 60000; Sleep(2)) {
      if (!written && SizeOf(game.Game("a.bin")) > 0)
        written = WriteBytes(game.Game("new.txt"), "the player's");
      if (written && (!run_came_to_it || FileExists(game.Game("new.txt_old"))))
        break;
    }
    KillProcess(process);
    before["new.txt"] = "the player's";
    std::string kept = run_came_to_it ? "" : WithPath(kKeptLine, game.Game("new.txt"));
    EXPECT_EQ(WithPath(kUndoQuestion, game.game) + " / " + kRolledBack + kept, BoxesUpToTheConfirmation(game));
    EXPECT_EQ(before, game.Snapshot());
  }
}

// A record belongs to its folder: copied into another one it is refused
// there and changes nothing, and the first folder's record still settles.
TEST(GenuineRecords, CopiedIntoAnotherFolderAreRefusedThere) {
  GameInstall first, second;
  first.AddGameWithList({{"a.bin", "old a"}});
  first.MakePackage({{"a.bin", "new a"}});
  first.AddGameFile("new.txt", "new");
  std::string record = SealedRecord({{'W', "new.txt"}, {'C', "new.txt"}}, false, nullptr, first.game);
  first.AddGameFile("update.run", record);
  second.AddGameWithList({{"new.txt", "the player's"}});
  second.MakePackage({{"a.bin", "new a"}});
  second.AddGameFile("update.run", record);
  auto second_before = second.Snapshot();
  SetDataDir(second.game);
  EXPECT_EQ(WithPath(kRecordRefused, second.Game("update.run")), BoxesUpToTheConfirmation(second));
  EXPECT_EQ(second_before, second.Snapshot());
  SetDataDir(first.game);
  EXPECT_EQ(WithPath(kUndoQuestion, first.game) + " / " + kRolledBack, BoxesUpToTheConfirmation(first));
  EXPECT_FALSE(FileExists(first.Game("new.txt")));
}

// Genuine records still settle exactly, whatever the spelling of DataDir:
// a doubled separator at its end, another letter case; and with a torn tail
// of zeros after the last record (a power cut).
TEST(GenuineRecords, SettleWhateverTheSpellingOfTheDataDirectory) {
  for (int spelling = 0; spelling < 3; ++spelling) {
    SCOPED_TRACE(spelling);
    GameInstall game;
    game.AddGameWithList({{"a.bin", "old a"}});
    game.MakePackage({{"a.bin", "new a"}});
    auto before = game.Snapshot();
    game.AddGameFile("a.bin_old", "old a");
    game.AddGameFile("a.bin", "new a");
    game.AddGameFile("sub\\b.bin", "new b");
    std::string record = SealedRecord({{'R', "a.bin"}, {'D', "sub"}, {'C', "sub\\b.bin"}});
    game.AddGameFile("update.run", spelling == 2 ? record + std::string(4096, '\0') : record);
    std::string data_dir = spelling == 2 ? game.game : game.game + "\\\\";
    if (spelling == 1) {
      data_dir = game.game;
      for (char &c : data_dir)
        c = static_cast<char>(isupper(static_cast<unsigned char>(c)) ? tolower(c) : toupper(c));
    }
    SetDataDir(data_dir);
    std::string folder = spelling == 0 ? game.game + "\\" : data_dir;
    EXPECT_EQ(WithPath(kUndoQuestion, folder) + " / " + kRolledBack, BoxesUpToTheConfirmation(game));
    EXPECT_EQ(before, game.Snapshot());
    EXPECT_FALSE(DirExists(game.Game("sub")));
  }
}

// A run record the run could not remove (another program held it, or it was
// made read-only) is never obeyed again: the file the player then puts back
// where the run had created one stays, and no box speaks of the old run.
// Nor is a whole record of a run the registry notes as settled.
TEST(OutlivingRecords, AreNeverObeyedAgain) {
  {
    GameInstall game;
    game.AddGameWithList({{"a.txt", "the player's a"}});
    game.MakePackage({{"b.bin", "b"}});
    game.AddGameFile("update.run", SealedRecord({{'C', "a.txt"}}, true));
    EXPECT_EQ("", BoxesUpToTheConfirmation(game));
    EXPECT_EQ("the player's a", ReadBytes(game.Game("a.txt")));
    EXPECT_FALSE(FileExists(game.Game("update.run")));
  }
  for (bool held : {true, false}) {
    SCOPED_TRACE(held ? "held" : "read-only");
    GameInstall game;
    // A stale backup of the player's makes the second entry fail.
    game.AddGameWithList({{"c.bin", "old c"}, {"c.bin_old", "player's"}});
    game.MakePackage({{"a.txt", "new a"}, {"c.bin", "new c"}});
    Process process;
    ASSERT_TRUE(StartAndPressStart(game, &process));
    HWND failure = WaitForBox(process.pid);
    ASSERT_NE(nullptr, failure);
    Process holder;
    if (held)
      holder = StartFileHolder(game.Game("update.run"));
    else
      ASSERT_TRUE(SetFileAttributesA(game.Game("update.run").c_str(), FILE_ATTRIBUTE_READONLY));
    PressButton(failure, IDOK);
    ExpectExitsCleanly(process);
    KillProcess(holder);
    EXPECT_FALSE(FileExists(game.Game("a.txt")));
    game.AddGameFile("a.txt", "the player's a");
    EXPECT_EQ("", BoxesUpToTheConfirmation(game));
    EXPECT_EQ("the player's a", ReadBytes(game.Game("a.txt")));
    EXPECT_FALSE(FileExists(game.Game("update.run")));
  }
}

// Yes to the cancel question of the settling's wait window stops nothing
// there and does not carry over: the install that follows copies and ends
// as it should.
TEST_F(Recovery, TheSettlingWindowsCancelDoesNotCarryIntoTheInstall) {
  install.AddGameWithList({{"a.bin", "old a"}});
  install.MakePackage({{"a.bin", "new a"}});
  Records records = {{'D', "many"}};
  for (int i = 0; i < 1500; ++i) {
    std::string name = "many\\f" + std::to_string(i) + ".bin";
    install.AddGameFile(name, "x");
    records.push_back({'C', name});
  }
  install.AddGameFile("update.run", SealedRecord(records));
  Process process = StartUpdate(install);
  EXPECT_EQ(WithPath(kUndoQuestion, install.game), AnswerBox(process.pid, IDYES).text);
  bool asked = false;
  for (DWORD begun = GetTickCount(); !asked && GetTickCount() - begun < 20000;) {
    for (HWND window : DialogsOf(process.pid)) {
      if (WindowText(window) == kWindowTitle && IsWindowVisible(window))
        PressEscape(window);
    }
    if (HWND box = WaitForBox(process.pid, 20)) {
      MessageBoxView view = ReadMessageBox(box);
      asked = view.text == kCancelQuestion;
      PressButton(box, asked ? IDYES : IDOK);
      WaitForWindowGone(box, 10000);
      ASSERT_TRUE(asked) << view.text;
    }
  }
  ASSERT_TRUE(asked);
  EXPECT_EQ(kRolledBack, AnswerBox(process.pid).text);
  HWND confirm = WaitForConfirm(process.pid);
  ASSERT_NE(nullptr, confirm);
  PressButton(confirm, IDOK);
  EXPECT_EQ(kFinished, AnswerBox(process.pid).text);
  ExpectExitsCleanly(process);
  EXPECT_EQ("new a", ReadBytes(Game("a.bin")));
  EXPECT_FALSE(DirExists(Game("many")));
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
    Records left;     // what the record still names for the next start
  };
  const std::vector<Case> cases = {
      {"replaced file held",
       [](const GameInstall &game) { return StartFileHolder(game.Game("a.bin")); },
       "元のファイルは名前の末尾に「_old」を付けて残っています。",
       {{'R', "a.bin"}}},
      {"created file held",
       [](const GameInstall &game) { return StartFileHolder(game.Game("b.bin")); },
       "\"%s\\b.bin\"を削除できませんでした。",
       {{'C', "b.bin"}}},
      {"backup deleted",
       [](const GameInstall &game) {
         DeleteFileA(game.Game("a.bin_old").c_str());
         return Process();
       },
       "\"%s\\a.bin\"の元のファイルが見つかりませんでした。",
       {}},
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
    Records left;
    RunRecordState state;
    EXPECT_EQ(kRecordRead, ReadRunRecordFile(game.Game("update.run").c_str(), CollectRecord, &left, &state));
    EXPECT_EQ(c.left, left);
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
