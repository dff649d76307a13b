// The journal store: records kept in order with their own copies of the
// paths, growth past the first 20 000 records, and backup names.
#include <gtest/gtest.h>

#include <string>

#include "journal/journal.h"
#include "journal/portable_state.h"

namespace {

struct JournalStore : ::testing::Test {
  void SetUp() override { ResetPortableState(); }
  void TearDown() override { ResetPortableState(); }
};

TEST_F(JournalStore, KeepsOrderKindActionAndItsOwnCopyOfThePath) {
  char path[32] = "C:\\game\\sub";
  ASSERT_EQ(0, JournalAppend("D", path, kJournalCreated));
  path[0] = 'X';
  ASSERT_EQ(0, JournalAppend("Fxx", "C:\\game\\a.bin", kJournalReplaced));
  ASSERT_EQ(2, JournalCount());
  EXPECT_STREQ("D", JournalAt(0).kind);
  EXPECT_STREQ("C:\\game\\sub", JournalAt(0).path);
  EXPECT_EQ(kJournalCreated, JournalAt(0).action);
  EXPECT_STREQ("F", JournalAt(1).kind); // one letter and its terminator
  EXPECT_EQ(kJournalReplaced, JournalAt(1).action);
}

TEST_F(JournalStore, GrowsPastTwentyThousandRecords) {
  const int32_t records = 45001;
  for (int32_t i = 0; i < records; ++i)
    ASSERT_EQ(0, JournalAppend("F", std::to_string(i).c_str(), kJournalCreated)) << i;
  ASSERT_EQ(records, JournalCount());
  for (int32_t i : {0, 19999, 20000, 20001, 39999, 40000, records - 1})
    EXPECT_EQ(std::to_string(i), JournalAt(i).path);
}

TEST_F(JournalStore, ARefusedAppendLeavesTheJournalAsItWas) {
  SetJournalRecordLimit(1);
  ASSERT_EQ(0, JournalAppend("F", "a", kJournalCreated));
  EXPECT_EQ(-1, JournalAppend("F", "b", kJournalCreated));
  ASSERT_EQ(1, JournalCount());
  EXPECT_STREQ("a", JournalAt(0).path);
}

TEST_F(JournalStore, ResetEmptiesTheJournalForTheNextRun) {
  ASSERT_EQ(0, JournalAppend("F", "a", kJournalCreated));
  ResetJournal();
  EXPECT_EQ(0, JournalCount());
  ASSERT_EQ(0, JournalAppend("F", "b", kJournalCreated));
  EXPECT_STREQ("b", JournalAt(0).path);
}

// BuildBackupPath, the copying form, follows the same rule and also needs
// room for the suffix and the terminator in the buffer it is given.
TEST(BackupPathOf, AppendsOldUpToA255BytePath) {
  char buffer[260];
  for (size_t length : {0u, 1u, 254u, 255u}) {
    std::string path(length, 'p');
    snprintf(buffer, sizeof buffer, "%s", path.c_str());
    ASSERT_EQ(buffer, BackupPathOf(buffer)) << length;
    EXPECT_EQ(path + "_old", buffer);
    char built[260];
    ASSERT_EQ(0, BuildBackupPath(built, sizeof built, path.c_str())) << length;
    EXPECT_EQ(path + "_old", built);
    EXPECT_EQ(-1, BuildBackupPath(built, length + 4, path.c_str())) << length;
  }
}

TEST(BackupPathOf, LeavesA256To259BytePathAlone) {
  char buffer[260];
  for (size_t length : {256u, 259u}) {
    std::string path(length, 'p');
    snprintf(buffer, sizeof buffer, "%s", path.c_str());
    EXPECT_EQ(nullptr, BackupPathOf(buffer)) << length;
    EXPECT_EQ(path, buffer);
    char built[300];
    EXPECT_EQ(-1, BuildBackupPath(built, sizeof built, path.c_str())) << length;
  }
}

} // namespace
