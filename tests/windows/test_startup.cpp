// Start-up pieces against the real Wine registry and real mutexes held by
// another process.
#include <gtest/gtest.h>

#include <cstring>

#include "common/text.h"
#include "driver/startup_win32.h"
#include "common/run_state.h"
#include "test_support.h"

namespace {

struct RegistryCase : ::testing::Test {
  void SetUp() override { ResetProgramState(); }
  void TearDown() override { DeleteDataDir(); }
};

TEST_F(RegistryCase, TrailingSeparatorIsRemovedAndTheParentIsSelected) {
  SetDataDir("D:\\Games\\Title\\");
  ASSERT_EQ(1, ReadDataDir());
  EXPECT_STREQ("D:\\Games\\Title", DataDirectory);
  DeriveDestinations();
  EXPECT_STREQ("D:\\Games\\Title", TARGETDIR);
  EXPECT_STREQ("D:\\Games", SELECTDIR);
}

TEST_F(RegistryCase, ADriveRootBecomesLetterAndColonForBoth) {
  SetDataDir("D:\\");
  ASSERT_EQ(1, ReadDataDir());
  DeriveDestinations();
  EXPECT_STREQ("D:", TARGETDIR);
  EXPECT_STREQ("D:", SELECTDIR);
}

TEST_F(RegistryCase, AFolderWithoutSeparatorKeepsItselfAsSelection) {
  SetDataDir("Game");
  ASSERT_EQ(1, ReadDataDir());
  DeriveDestinations();
  EXPECT_STREQ("Game", TARGETDIR);
  EXPECT_STREQ("Game", SELECTDIR);
}

TEST_F(RegistryCase, ATrailByteOf0x5CIsNeitherCutNorRemoved) {
  // "D:\ゲーム\ソ": ends in the trail byte of ソ, which is no separator.
  SetDataDir("D:\\ゲーム\\ソ");
  ASSERT_EQ(1, ReadDataDir());
  EXPECT_STREQ("D:\\ゲーム\\ソ", DataDirectory);
  DeriveDestinations();
  EXPECT_STREQ("D:\\ゲーム", SELECTDIR);
  // "D:\ソフト": the parent is D: and not "D:\\x83".
  SetDataDir("D:\\ソフト");
  ASSERT_EQ(1, ReadDataDir());
  DeriveDestinations();
  EXPECT_STREQ("D:", SELECTDIR);
  // A true separator after ソ is removed as usual.
  SetDataDir("D:\\ソ\\");
  ASSERT_EQ(1, ReadDataDir());
  EXPECT_STREQ("D:\\ソ", DataDirectory);
}

TEST_F(RegistryCase, ValuesThatDoNotFitAreAbsent) {
  std::string fits = "C:\\" + std::string(256, 'x'); // 259 bytes + terminator
  SetDataDir(fits);
  ASSERT_EQ(1, ReadDataDir());
  EXPECT_EQ(fits, DataDirectory);
  SetDataDir("C:\\" + std::string(257, 'x'));
  EXPECT_EQ(0, ReadDataDir());
  EXPECT_STREQ("", DataDirectory);
  // Exactly 260 bytes without a terminator.
  std::string unterminated(260, 'y');
  SetDataDirRaw(unterminated.data(), 260, REG_BINARY);
  EXPECT_EQ(0, ReadDataDir());
}

// A character without its own code page 932 form would be read as a
// look-alike (é as e), naming another folder: such a value is not used.
TEST_F(RegistryCase, AValueTheAnsiCodePageCannotSpellIsAbsent) {
  const WCHAR value[] = L"C:\\Gam\u00E9";
  SetDataDirRaw(value, sizeof value, REG_SZ, true);
  EXPECT_EQ(0, ReadDataDir());
  EXPECT_STREQ("", DataDirectory);
  const WCHAR japanese[] = L"C:\\\u30B2\u30FC\u30E0"; // ゲーム
  SetDataDirRaw(japanese, sizeof japanese, REG_SZ, true);
  ASSERT_EQ(1, ReadDataDir());
  EXPECT_STREQ("C:\\ゲーム", DataDirectory);
}

TEST_F(RegistryCase, MissingKeyMissingValueOrEmptyValue) {
  DeleteDataDir();
  EXPECT_EQ(0, ReadDataDir());
  SetDataDir("");
  EXPECT_EQ(0, ReadDataDir());
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\TALVERA\\lumerant_qen", 0, KEY_WRITE, &key));
  RegDeleteValueA(key, "DataDir");
  RegCloseKey(key);
  EXPECT_EQ(0, ReadDataDir());
}

TEST(MutexGuards, SeeAMutexHeldByAnotherProcess) {
  const char *name = "UPD_TEST_GUARD_MUTEX";
  EXPECT_FALSE(IsMutexPresent(name));
  Process holder = StartMutexHolder(name);
  ASSERT_NE(nullptr, holder.handle);
  EXPECT_TRUE(IsMutexPresent(name));
  EXPECT_EQ(-1, CreateInstanceMutex(name)); // already exists
  KillProcess(holder);
  EXPECT_FALSE(IsMutexPresent(name));
}

TEST(MutexGuards, TheInstanceMutexIsKeptOnceCreated) {
  const char *name = "UPD_TEST_INSTANCE_MUTEX";
  ASSERT_EQ(0, CreateInstanceMutex(name));
  EXPECT_TRUE(IsMutexPresent(name));
  EXPECT_EQ(-1, CreateInstanceMutex(name)); // a second copy is refused
  EXPECT_TRUE(IsMutexPresent(name));
}

TEST(ProgramFolder, IsCutAtTheTrueSeparator) {
  char path[260];
  CopyText(path, sizeof path, "C:\\ソフト\\update.exe");
  ASSERT_EQ(0, CutAtLastSeparator(path));
  EXPECT_STREQ("C:\\ソフト", path);
  CopyText(path, sizeof path, "C:\\ソ");
  ASSERT_EQ(0, CutAtLastSeparator(path));
  EXPECT_STREQ("C:", path);
  CopyText(path, sizeof path, "update.exe");
  EXPECT_EQ(-1, CutAtLastSeparator(path));
}

} // namespace
