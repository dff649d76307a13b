// Rollback and finishing on real files under Wine, after real extraction
// passes: what is restored, removed, kept and counted as failed.
#include <cstring>

#include "install_fixture.h"
#include "journal/record_seal_win32.h"
// After windows.h (through the fixture).
#include <sddl.h>

namespace {

using fixture::InstallTest;
using fixture::ProgressProbe;

// A run that replaced a.bin, created the directory sub and sub\b.bin.
struct Journalled : InstallTest {
  void RunReplacingAAndCreatingSub() {
    ASSERT_TRUE(WriteBytes(T("a.bin"), "old a"));
    UsePackage({{"a.bin", "new a"}, {"sub\\b.bin", "b"}});
    ASSERT_EQ(0, ExtractAll(nullptr));
    ExpectNoFailure();
    ASSERT_EQ(3, JournalCount());
  }
};

// ---------------------------------------------------------------- rollback

using Rollback = Journalled;

TEST_F(Rollback, RestoresReplacedFilesRemovesCreatedOnesAndKeepsDirectories) {
  RunReplacingAAndCreatingSub();
  InstallStatus = kStatusCancelled;
  EXPECT_EQ(0, RollBack());
  EXPECT_EQ("old a", ReadBytes(T("a.bin")));
  EXPECT_FALSE(FileExists(T("a.bin_old")));
  EXPECT_FALSE(FileExists(T("sub\\b.bin")));
  EXPECT_TRUE(DirExists(T("sub")));
  // The outcome stays the driver's to report.
  EXPECT_EQ(kStatusCancelled, InstallStatus);
  EXPECT_STREQ("", ErrorDetail);
}

TEST_F(Rollback, AReplacedFileHeldOpenCountsTwoFailuresAndKeepsBothContents) {
  RunReplacingAAndCreatingSub();
  Process holder = StartFileHolder(T("a.bin"));
  ASSERT_NE(nullptr, holder.handle);
  EXPECT_EQ(2, RollBack());
  KillProcess(holder);
  EXPECT_EQ("new a", ReadBytes(T("a.bin")));
  EXPECT_EQ("old a", ReadBytes(T("a.bin_old")));
  // The pass went on to the later record.
  EXPECT_FALSE(FileExists(T("sub\\b.bin")));
}

// Two records touching one file: a name given twice, or in two spellings of
// one name. Undone newest first, each over the state it left, the folder is
// as before the run and nothing is reported.
TEST_F(Rollback, TwoRecordsOfOneFileLeaveTheFolderAsItWas) {
  const std::vector<std::vector<fixture::Item>> packages = {
      {{"x.bin", "first"}, {"x.bin", "second"}},
      {{"X.bin", "first"}, {"x.BIN", "second"}},
  };
  for (const auto &package : packages) {
    SCOPED_TRACE(package[1].name);
    ResetProgramState();
    UsePackage(package);
    ASSERT_EQ(0, ExtractAll(nullptr));
    ASSERT_EQ(2, JournalCount());
    EXPECT_EQ(0, RollBack());
    EXPECT_TRUE(FolderNames(target.path).empty());
  }
}

TEST_F(Rollback, RemovesAFileLeftPartlyWrittenByAFailedCopy) {
  std::string data = "abcd";
  UsePackageBytes(data + EntryRecord("cut.bin", 1048576, 0) + Trailer(data.size(), 1), target.path);
  ASSERT_EQ(0, ExtractAll(nullptr));
  ASSERT_EQ(kStatusFailed, InstallStatus);
  ASSERT_TRUE(FileExists(T("cut.bin")));
  EXPECT_EQ(0, RollBack());
  EXPECT_FALSE(FileExists(T("cut.bin")));
}

TEST_F(Rollback, RemovesAFileLeftPartlyWrittenByACancellation) {
  ASSERT_TRUE(WriteBytes(T("big.bin"), "old big"));
  UsePackage({{"big.bin", PatternBytes(3 * 1048576, 3)}});
  ProgressProbe probe;
  ProgressProbe::CancelAt() = 1;
  ASSERT_EQ(0, ExtractAll(&probe.progress));
  ASSERT_EQ(kStatusCancelled, InstallStatus);
  EXPECT_EQ(0, RollBack(&probe.progress));
  EXPECT_EQ("old big", ReadBytes(T("big.bin")));
  EXPECT_FALSE(FileExists(T("big.bin_old")));
}

// ---------------------------------------------------------------- finishing

using Finishing = Journalled;

TEST_F(Finishing, DeletesTheBackupsAndKeepsEverythingInstalled) {
  RunReplacingAAndCreatingSub();
  EXPECT_EQ(0, FinishJournal(nullptr));
  EXPECT_FALSE(FileExists(T("a.bin_old")));
  EXPECT_EQ("new a", ReadBytes(T("a.bin")));
  EXPECT_EQ("b", ReadBytes(T("sub\\b.bin")));
  EXPECT_TRUE(DirExists(T("sub")));
}

TEST_F(Finishing, LeavesAFileNamedLikeTheBackupOfACreatedFile) {
  // The user's own file, there before the run: the run made no backup of
  // new.bin, so new.bin_old is not ours.
  ASSERT_TRUE(WriteBytes(T("new.bin_old"), "user's"));
  ASSERT_TRUE(WriteBytes(T("a.bin"), "old a"));
  UsePackage({{"new.bin", "n"}, {"a.bin", "new a"}});
  ASSERT_EQ(0, ExtractAll(nullptr));
  ExpectNoFailure();
  EXPECT_EQ(0, FinishJournal(nullptr));
  EXPECT_EQ("user's", ReadBytes(T("new.bin_old")));
  EXPECT_FALSE(FileExists(T("a.bin_old")));
  EXPECT_EQ("n", ReadBytes(T("new.bin")));
}

TEST_F(Finishing, ThePathCreatedThenReplacedInOneRunLosesItsBackup) {
  UsePackage({{"x.bin", "first"}, {"x.bin", "second"}});
  ASSERT_EQ(0, ExtractAll(nullptr));
  EXPECT_EQ(0, FinishJournal(nullptr));
  EXPECT_EQ("second", ReadBytes(T("x.bin")));
  EXPECT_FALSE(FileExists(T("x.bin_old")));
}

// ------------------------------------------------------ the wait window

using JournalPassWindow = Journalled;

bool MessagePending(HWND window) {
  MSG message;
  return PeekMessageA(&message, window, WM_USER, WM_USER, PM_NOREMOVE) != 0;
}

TEST_F(JournalPassWindow, AnEmptyJournalChangesNothingAndPumpsNothing) {
  ASSERT_TRUE(WriteBytes(T("a.bin_old"), "kept"));
  ProgressProbe probe;
  PostMessageA(probe.window, WM_USER, 0, 0);
  EXPECT_EQ(0, RollBack(&probe.progress));
  EXPECT_EQ(0, FinishJournal(&probe.progress));
  EXPECT_TRUE(MessagePending(probe.window));
  EXPECT_EQ("kept", ReadBytes(T("a.bin_old")));
}

TEST_F(JournalPassWindow, EachPassPumpsTheWindowItIsGiven) {
  RunReplacingAAndCreatingSub();
  ProgressProbe probe;
  PostMessageA(probe.window, WM_USER, 0, 0);
  FinishJournal(&probe.progress);
  EXPECT_FALSE(MessagePending(probe.window));
  PostMessageA(probe.window, WM_USER, 0, 0);
  RollBack(&probe.progress);
  EXPECT_FALSE(MessagePending(probe.window));
}

} // namespace

namespace {

// The key that seals run records lives where only administrators and SYSTEM
// may read it: the access rights Wine keeps for the registry key are the
// ones the program set. Two loads give the same seal.
TEST(MachineKey, IsReadableByAdministratorsOnlyAndStays) {
  RecordSeal first, second;
  ASSERT_TRUE(LoadRecordSeal(true, &first));
  ASSERT_TRUE(LoadRecordSeal(false, &second));
  HKEY key;
  // In the 32-bit view, where every build keeps it.
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRecordSealKey, 0, KEY_READ | KEY_WOW64_32KEY, &key));
  char buffer[512];
  DWORD size = sizeof buffer;
  ASSERT_EQ(ERROR_SUCCESS, RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, buffer, &size));
  RegCloseKey(key);
  LPSTR text = nullptr;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(buffer, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                                   &text, nullptr));
  EXPECT_STREQ(kRecordSealAccess, text);
  LocalFree(text);
  const unsigned char previous[kRecordTagBytes] = {}, bytes[] = "Ca.bin";
  unsigned char a[kRecordTagBytes], b[kRecordTagBytes];
  first.tag(first.context, previous, bytes, sizeof bytes, a);
  second.tag(second.context, previous, bytes, sizeof bytes, b);
  EXPECT_EQ(0, std::memcmp(a, b, sizeof a));
  EXPECT_NE(std::string(kRecordTagBytes, '\0'), std::string(reinterpret_cast<char *>(a), sizeof a));
}

} // namespace
