// The extraction pass on real files under Wine: new and replaced files,
// entry directories, failures with their messages, the progress bar and
// cancellation through the progress window's messages.
#include "install_fixture.h"
#include "journal/run_record_win32.h"

namespace {

using fixture::InstallTest;
using fixture::Item;
using fixture::ProgressProbe;

const uint32_t kMiB = 1048576;

// ---------------------------------------------------------------- new files

using ExtractNewFiles = InstallTest;

TEST_F(ExtractNewFiles, TwoMiBAndOneByteGoInChunksOfOneMiBOneMiBAndOneByte) {
  std::string bytes = PatternBytes(2 * kMiB + 1, 7);
  UsePackage({{"big.bin", bytes}});
  ProgressProbe probe;
  ASSERT_EQ(0, ExtractAll(&probe.progress));
  ExpectNoFailure();
  EXPECT_EQ(bytes, ReadBytes(T("big.bin")));
  ExpectJournal({{"F", T("big.bin")}}, {kJournalCreated});
  // One bar move per chunk; the KiB grow by 1024, 1024 and 1.
  EXPECT_EQ((std::vector<int32_t>{1024, 2048, 2049}), ProgressProbe::KiBSteps());
  EXPECT_EQ(100, ProgressProbe::Positions().back());
}

TEST_F(ExtractNewFiles, KiBCountedPerChunkAreRoundedUp) {
  UsePackage({{"a.bin", std::string(1, 'a')}, {"b.bin", std::string(1025, 'b')}, {"c.bin", std::string(1024, 'c')}});
  ASSERT_EQ(0, ExtractAll(nullptr));
  ExpectNoFailure();
  EXPECT_EQ(1 + 2 + 1, ProgressKiB);
}

TEST_F(ExtractNewFiles, AnEmptyFileIsCreatedWithoutAChunk) {
  UsePackage({{"empty.bin", ""}});
  ProgressProbe probe;
  ASSERT_EQ(0, ExtractAll(&probe.progress));
  ExpectNoFailure();
  bool read = false;
  EXPECT_EQ("", ReadBytes(T("empty.bin"), &read));
  EXPECT_TRUE(read);
  EXPECT_TRUE(ProgressProbe::Positions().empty());
  ExpectJournal({{"F", T("empty.bin")}}, {kJournalCreated});
}

// ------------------------------------------------------ entry directories

using ExtractDirectories = InstallTest;

TEST_F(ExtractDirectories, AMissingDirectoryWhoseParentExistsIsCreatedAndJournalled) {
  UsePackage({{"sub\\x.bin", "xx"}, {"sub\\y.bin", "yy"}});
  ASSERT_EQ(0, ExtractAll(nullptr));
  ExpectNoFailure();
  EXPECT_EQ("xx", ReadBytes(T("sub\\x.bin")));
  EXPECT_EQ("yy", ReadBytes(T("sub\\y.bin")));
  ExpectJournal({{"D", T("sub")}, {"F", T("sub\\x.bin")}, {"F", T("sub\\y.bin")}},
                {kJournalCreated, kJournalCreated, kJournalCreated});
}

// A folder is looked up once for a run of entries in it: names that share
// a beginning, a folder left and come back to, and a level below are each
// still made when first needed.
TEST_F(ExtractDirectories, FoldersThatComeAndGoAreEachMadeWhenFirstNeeded) {
  const std::vector<std::string> names = {"ab\\1.bin", "ab\\2.bin", "abc\\3.bin", "ab\\c\\4.bin",
                                          "5.bin",     "ab\\6.bin", "xy\\7.bin"};
  std::vector<Item> items;
  for (const std::string &name : names)
    items.push_back({name, name});
  UsePackage(items);
  ASSERT_EQ(0, ExtractAll(nullptr));
  ExpectNoFailure();
  for (const std::string &name : names)
    EXPECT_EQ(name, ReadBytes(T(name)));
  ExpectJournal({{"D", T("ab")},
                 {"F", T("ab\\1.bin")},
                 {"F", T("ab\\2.bin")},
                 {"D", T("abc")},
                 {"F", T("abc\\3.bin")},
                 {"D", T("ab\\c")},
                 {"F", T("ab\\c\\4.bin")},
                 {"F", T("5.bin")},
                 {"F", T("ab\\6.bin")},
                 {"D", T("xy")},
                 {"F", T("xy\\7.bin")}},
                std::vector<int32_t>(11, kJournalCreated));
}

int CollectRecord(void *context, char kind, const char *path, size_t length) {
  static_cast<std::vector<std::string> *>(context)->push_back(kind + std::string(path, length));
  return 0;
}

// Every folder and file is named in the run record before anything is made
// (then the list's temporary file), so that a kill or a power cut right
// after a create leaves nothing the next start does not know of; what could
// not be made is named all the same (settling it is a no-op). A file is
// recorded as created only once its create succeeded.
TEST_F(ExtractDirectories, TheRunRecordNamesEveryChangeBeforeTheFirst) {
  ASSERT_TRUE(WriteBytes(T("taken"), "a file in the way"));
  UsePackage({{"sub\\x.bin", "x"}, {"taken\\y.bin", "y"}});
  ASSERT_EQ(0, OpenRunRecord(target.path.c_str()));
  ASSERT_EQ(0, ExtractAll(nullptr));
  CloseRunRecord(false);
  ExpectWriteFailure(WithPath(kCreateFailed, T("taken")));
  std::vector<std::string> records;
  RunRecordState state;
  ASSERT_EQ(kRecordRead, ReadRunRecordFile(T("update.run").c_str(), CollectRecord, &records, &state));
  ASSERT_EQ(6u, records.size());
  EXPECT_EQ("Tuin", records[4].substr(0, 4));
  records.erase(records.begin() + 4);
  EXPECT_EQ((std::vector<std::string>{"Dsub", "Wsub\\x.bin", "Dtaken", "Wtaken\\y.bin", "Csub\\x.bin"}), records);
  EXPECT_EQ("a file in the way", ReadBytes(T("taken")));
}

TEST_F(ExtractDirectories, TwoMissingLevelsFailOnTheDeeperOne) {
  UsePackage({{"a\\b\\c.bin", "c"}, {"later.bin", "l"}});
  ASSERT_EQ(0, ExtractAll(nullptr));
  ExpectWriteFailure(WithPath(kCreateFailed, T("a\\b")));
  EXPECT_FALSE(DirExists(T("a")));
  EXPECT_FALSE(FileExists(T("later.bin")));
  EXPECT_EQ(0, JournalCount());
}

TEST_F(ExtractDirectories, ASeparatorByteInsideADoubleByteCharacterIsNoSeparator) {
  // ソ is 0x83 0x5C: its trail byte has the value of '\'.
  ASSERT_EQ(std::string("\x83\x5C"), std::string("ソ"));
  UsePackage({{"aソ.bin", "file"}, {"ソ\\x.bin", "in folder"}});
  ASSERT_EQ(0, ExtractAll(nullptr));
  ExpectNoFailure();
  EXPECT_EQ("file", ReadBytes(T("aソ.bin")));
  EXPECT_EQ("in folder", ReadBytes(T("ソ\\x.bin")));
  std::vector<std::string> names = FolderNames(target.path);
  std::sort(names.begin(), names.end());
  EXPECT_EQ((std::vector<std::string>{"aソ.bin", "ソ"}), names);
  ExpectJournal({{"F", T("aソ.bin")}, {"D", T("ソ")}, {"F", T("ソ\\x.bin")}},
                {kJournalCreated, kJournalCreated, kJournalCreated});
}

// ---------------------------------------------------------- replaced files

using ExtractReplacing = InstallTest;

TEST_F(ExtractReplacing, AnExistingFileMovesToItsBackupName) {
  ASSERT_TRUE(WriteBytes(T("a.bin"), "old content"));
  UsePackage({{"a.bin", "new"}});
  ASSERT_EQ(0, ExtractAll(nullptr));
  ExpectNoFailure();
  EXPECT_EQ("new", ReadBytes(T("a.bin")));
  EXPECT_EQ("old content", ReadBytes(T("a.bin_old")));
  ExpectJournal({{"F", T("a.bin")}}, {kJournalReplaced});
}

TEST_F(ExtractReplacing, TheSamePathTwiceIsCreatedThenReplaced) {
  UsePackage({{"x.bin", "first"}, {"x.bin", "second"}});
  ASSERT_EQ(0, ExtractAll(nullptr));
  ExpectNoFailure();
  EXPECT_EQ("second", ReadBytes(T("x.bin")));
  EXPECT_EQ("first", ReadBytes(T("x.bin_old")));
  ExpectJournal({{"F", T("x.bin")}, {"F", T("x.bin")}}, {kJournalCreated, kJournalReplaced});
}

TEST_F(ExtractReplacing, AStaleBackupBlocksTheMoveAndBothFilesKeepTheirContent) {
  ASSERT_TRUE(WriteBytes(T("a.bin"), "current"));
  ASSERT_TRUE(WriteBytes(T("a.bin_old"), "left by an interrupted run"));
  UsePackage({{"a.bin", "new"}, {"later.bin", "l"}});
  ASSERT_EQ(0, ExtractAll(nullptr));
  ExpectWriteFailure(WithPath(kBackupFailed, T("a.bin")));
  EXPECT_EQ("current", ReadBytes(T("a.bin")));
  EXPECT_EQ("left by an interrupted run", ReadBytes(T("a.bin_old")));
  EXPECT_FALSE(FileExists(T("later.bin")));
  EXPECT_EQ(0, JournalCount());
}

TEST_F(ExtractReplacing, AFileThatCantBeCreatedAfterTheMoveGetsTheOldFileBack) {
  // A file system with room for one file: the move to the backup name is a
  // rename and works, the new file finds no room.
  SKIP_UNLESS_ROOT("mounts a small file system");
  SmallDrive full(target.Join("full"), 1024, 1);
  ASSERT_TRUE(full.mounted);
  ASSERT_TRUE(WriteBytes(full.folder + "\\a.bin", "game data"));
  UsePackageBytes(PackageBytes({{"a.bin", "new"}}), full.folder);
  ASSERT_EQ(0, ExtractAll(nullptr));
  ExpectWriteFailure(WithPath(kBackupFailed, full.folder + "\\a.bin"));
  EXPECT_EQ("game data", ReadBytes(full.folder + "\\a.bin"));
  EXPECT_FALSE(FileExists(full.folder + "\\a.bin_old"));
  EXPECT_EQ(0, RollBack());
  EXPECT_EQ("game data", ReadBytes(full.folder + "\\a.bin"));
}

TEST_F(ExtractReplacing, ADirectoryInTheWayIsNotMovedAside) {
  ASSERT_TRUE(CreateDirectoryA(T("d.bin").c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(T("d.bin\\inside.txt"), "keep"));
  UsePackage({{"d.bin", "file"}});
  ASSERT_EQ(0, ExtractAll(nullptr));
  ExpectWriteFailure(WithPath(kBackupFailed, T("d.bin")));
  EXPECT_EQ("keep", ReadBytes(T("d.bin\\inside.txt")));
  EXPECT_FALSE(DirExists(T("d.bin_old")));
  EXPECT_EQ(0, JournalCount());
}

// ------------------------------------------------ failures while writing

using ExtractFailures = InstallTest;

TEST_F(ExtractFailures, APackageEndingInsideAnEntrysDataFailsTheCopy) {
  // The entry claims 1 MiB from its offset; the file ends long before.
  std::string data = "abcd";
  std::string package = data + EntryRecord("cut.bin", kMiB, 0) + Trailer(data.size(), 1);
  UsePackageBytes(package, target.path);
  ASSERT_EQ(0, ExtractAll(nullptr));
  ExpectWriteFailure(WithPath(kCopyFailed, T("cut.bin")));
  // Journalled and closed, so that the rollback can remove it.
  ExpectJournal({{"F", T("cut.bin")}}, {kJournalCreated});
  EXPECT_TRUE(DeleteFileA(T("cut.bin").c_str()));
}

TEST_F(ExtractFailures, AMissingPackageFailsWithoutDetail) {
  UsePackage({{"a.bin", "a"}});
  ASSERT_TRUE(DeleteFileA(source.Join(kPackageFileName).c_str()));
  EXPECT_EQ(-1, ExtractAll(nullptr));
  EXPECT_EQ(kStatusFailed, InstallStatus);
  EXPECT_EQ(kErrorKindGeneral, ErrorKind);
  EXPECT_STREQ("", ErrorDetail);
  EXPECT_FALSE(FileExists(T("a.bin")));
}

TEST_F(ExtractFailures, AnEmptyNameIsRefusedWithoutTouchingTheDestination) {
  UsePackage({{"", "x"}});
  ASSERT_EQ(0, ExtractAll(nullptr));
  EXPECT_EQ(kStatusFailed, InstallStatus);
  EXPECT_TRUE(DirExists(target.path));
  EXPECT_EQ(0, JournalCount());
}

TEST_F(ExtractFailures, AJoinedPathOfUpTo259BytesIsWrittenALongerOneFailsWhole) {
  size_t room = 259 - target.path.size() - 1;
  std::string fits(room, 'f');
  std::string too_long(room + 1, 'g');
  UsePackage({{fits, "fits"}, {too_long, "too long"}});
  ASSERT_EQ(0, ExtractAll(nullptr));
  EXPECT_EQ("fits", ReadBytes(T(fits)));
  ExpectWriteFailure(WithPath(kCreateFailed, T(too_long)));
  ExpectJournal({{"F", T(fits)}}, {kJournalCreated});
  // Nothing was made under a cut name either.
  EXPECT_EQ(std::vector<std::string>{fits}, FolderNames(target.path));
}

TEST_F(ExtractFailures, AnExistingFileWhosePathIsTooLongForABackupNameStays) {
  std::string name(257 - target.path.size() - 1, 'e');
  ASSERT_TRUE(WriteBytes(T(name), "kept"));
  UsePackage({{name, "new"}});
  ASSERT_EQ(0, ExtractAll(nullptr));
  ExpectWriteFailure(WithPath(kBackupFailed, T(name)));
  EXPECT_EQ("kept", ReadBytes(T(name)));
  EXPECT_EQ(0, JournalCount());
}

// A journal that refuses a record (only exhausted memory does that in a run)
// fails the entry, and the change it could not record is undone at once.
TEST_F(ExtractFailures, ARefusedJournalRecordUndoesTheChangeItWouldHaveRecorded) {
  ASSERT_TRUE(WriteBytes(T("r.bin"), "old"));
  UsePackage({{"n.bin", "new"}, {"r.bin", "replacement"}, {"sub\\s.bin", "s"}});
  ArchiveEntry entry;
  HANDLE package = CreateFileA(source.Join(kPackageFileName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, package);
  SetJournalRecordLimit(0);

  ASSERT_EQ(0, GetArchiveEntry(0, &entry));
  EXPECT_EQ(-1, ExtractEntry(nullptr, entry, package));
  ExpectWriteFailure(WithPath(kCreateFailed, T("n.bin")));
  EXPECT_FALSE(FileExists(T("n.bin")));

  ASSERT_EQ(1, GetArchiveEntry(1, &entry));
  EXPECT_EQ(-1, ExtractEntry(nullptr, entry, package));
  ExpectWriteFailure(WithPath(kCreateFailed, T("r.bin")));
  EXPECT_EQ("old", ReadBytes(T("r.bin")));
  EXPECT_FALSE(FileExists(T("r.bin_old")));

  ASSERT_EQ(2, GetArchiveEntry(2, &entry));
  EXPECT_EQ(-1, EnsureEntryDirectories(entry));
  ExpectWriteFailure(WithPath(kCreateFailed, T("sub")));
  EXPECT_FALSE(DirExists(T("sub")));
  CloseHandle(package);
  EXPECT_EQ(0, JournalCount());
}

TEST_F(ExtractFailures, ThePassStopsAtTheFirstRefusedRecord) {
  UsePackage({{"a.bin", "a"}, {"b.bin", "b"}, {"c.bin", "c"}});
  SetJournalRecordLimit(1);
  ASSERT_EQ(0, ExtractAll(nullptr));
  ExpectWriteFailure(WithPath(kCreateFailed, T("b.bin")));
  EXPECT_TRUE(FileExists(T("a.bin")));
  EXPECT_FALSE(FileExists(T("b.bin")));
  EXPECT_FALSE(FileExists(T("c.bin")));
}

// ------------------------------------------------------------ progress bar

using ExtractProgress = InstallTest;

TEST_F(ExtractProgress, APackageUnderOneKiBShowsAFullBar) {
  UsePackage({{"tiny.bin", "tiny"}});
  ASSERT_EQ(0, ArchiveSizeKiB());
  ProgressProbe probe;
  ASSERT_EQ(0, ExtractAll(&probe.progress));
  ExpectNoFailure();
  EXPECT_EQ(std::vector<int>{100}, ProgressProbe::Positions());
}

TEST_F(ExtractProgress, RoundedUpSmallFilesNeverPushTheBarPastItsEnd) {
  std::vector<Item> items;
  for (int i = 0; i < 300; ++i)
    items.push_back({"f" + std::to_string(i), "1"});
  UsePackage(items);
  ProgressProbe probe;
  ASSERT_EQ(0, ExtractAll(&probe.progress));
  ExpectNoFailure();
  ASSERT_EQ(300u, ProgressProbe::Positions().size());
  EXPECT_EQ(300, ProgressKiB); // far more than the package's few KiB
  for (int position : ProgressProbe::Positions())
    EXPECT_LE(position, 100);
  EXPECT_EQ(100, ProgressProbe::Positions().back());
}

TEST_F(ExtractProgress, TheRealProgressBarFollowsTheCopy) {
  UsePackage({{"half1.bin", std::string(kMiB, 'a')}, {"half2.bin", std::string(kMiB, 'b')}});
  ProgressProbe probe(true);
  HWND bar = GetDlgItem(probe.window, IDC_PROGRESS_BAR);
  ArchiveEntry entry;
  HANDLE package = CreateFileA(source.Join(kPackageFileName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr);
  ASSERT_EQ(0, GetArchiveEntry(0, &entry));
  ASSERT_EQ(0, ExtractEntry(&probe.progress, entry, package));
  EXPECT_EQ(50, SendMessageA(bar, PBM_GETPOS, 0, 0)); // 1024 of 2048 KiB
  ASSERT_EQ(1, GetArchiveEntry(1, &entry));
  ASSERT_EQ(0, ExtractEntry(&probe.progress, entry, package));
  EXPECT_EQ(100, SendMessageA(bar, PBM_GETPOS, 0, 0));
  CloseHandle(package);
}

// ------------------------------------------------------------ cancellation

using ExtractCancellation = InstallTest;

TEST_F(ExtractCancellation, ConfirmedDuringTheSecondChunkOfTheFifthEntry) {
  std::vector<Item> items;
  for (int i = 1; i <= 4; ++i)
    items.push_back({"small" + std::to_string(i), PatternBytes(100, i)});
  std::string fifth = PatternBytes(3 * kMiB, 5);
  items.push_back({"fifth.bin", fifth});
  items.push_back({"sixth.bin", "never"});
  UsePackage(items);
  ProgressProbe probe;
  ProgressProbe::CancelAt() = 4 + 2; // one move per small file, then two chunks
  ASSERT_EQ(0, ExtractAll(&probe.progress));
  EXPECT_EQ(kStatusCancelled, InstallStatus);
  EXPECT_STREQ("", ErrorDetail);
  EXPECT_EQ(fifth.substr(0, 2 * kMiB), ReadBytes(T("fifth.bin")));
  EXPECT_FALSE(FileExists(T("sixth.bin")));
  ASSERT_EQ(5, JournalCount());
  EXPECT_EQ(T("fifth.bin"), JournalAt(4).path);
  EXPECT_EQ(6u, ProgressProbe::Positions().size());
}

TEST_F(ExtractCancellation, ConfirmedBeforeThePassTakesNoEntry) {
  UsePackage({{"a.bin", "a"}});
  InstallStatus = kStatusCancelled;
  ASSERT_EQ(0, ExtractAll(nullptr));
  EXPECT_EQ(kStatusCancelled, InstallStatus);
  EXPECT_FALSE(FileExists(T("a.bin")));
  EXPECT_EQ(0, JournalCount());
}

} // namespace
