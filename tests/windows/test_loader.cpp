// The package directory loader on real files under Wine.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "archive/loader_win32.h"
#include "common/run_state.h"
#include "common/cp932.h"
#include "common/name_fold.h"
#include "package_bytes.h"
#include "test_support.h"

namespace {

const std::string kSample = std::string("abc") + EntryRecord("a.txt", 3, 0) + Trailer(3, 1);

// Each test starts without a loaded directory.
struct Loader : ::testing::Test {
  void SetUp() override { ResetProgramState(); }
  void TearDown() override { ResetProgramState(); }
};
using LoaderRefusals = Loader;

struct Loaded {
  int32_t count;
  std::vector<ArchiveEntry> entries;
};

Loaded LoadPackage(const TempDir &dir, const std::string &bytes) {
  EXPECT_TRUE(WriteBytes(dir.Join("UPDATE.DAT"), bytes));
  Loaded loaded{LoadArchiveDirectory(dir.path.c_str()), {}};
  ArchiveEntry entry;
  for (int32_t n = 0; GetArchiveEntry(n, &entry) == n; ++n)
    loaded.entries.push_back(entry);
  return loaded;
}

TEST_F(Loader, ReadsTheSampleOfThirtyThreeBytes) {
  TempDir dir;
  ASSERT_EQ(33u, kSample.size());
  Loaded loaded = LoadPackage(dir, kSample);
  ASSERT_EQ(1, loaded.count);
  ASSERT_EQ(1u, loaded.entries.size());
  EXPECT_STREQ("a.txt", loaded.entries[0].name);
  EXPECT_EQ(3u, loaded.entries[0].size);
  EXPECT_EQ(0u, loaded.entries[0].offset_high);
  EXPECT_EQ(0u, loaded.entries[0].offset_low);
  EXPECT_EQ(0, ArchiveSizeKiB()); // 33 - 4 bytes
  ArchiveEntry entry;
  EXPECT_EQ(-1, GetArchiveEntry(1, &entry));
}

TEST_F(Loader, AcceptsAFolderThatEndsInASeparator) {
  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir.Join("UPDATE.DAT"), kSample));
  EXPECT_EQ(1, LoadArchiveDirectory((dir.path + "\\").c_str()));
}

TEST_F(Loader, ReadsThreeEntriesWithASubdirectoryAndStoredOffsets) {
  TempDir dir;
  std::string data = PatternBytes(100, 1);
  std::string directory = EntryRecord("readme.txt", 10, 0) + EntryRecord("data\\a.bin", 50, 10) +
                          EntryRecord("data\\b.bin", 40, 0x100000060ull);
  Loaded loaded = LoadPackage(dir, data + directory + Trailer(100, 3));
  ASSERT_EQ(3, loaded.count);
  ASSERT_EQ(3u, loaded.entries.size());
  EXPECT_STREQ("data\\a.bin", loaded.entries[1].name);
  EXPECT_EQ(50u, loaded.entries[1].size);
  EXPECT_EQ(10u, loaded.entries[1].offset_low);
  EXPECT_STREQ("data\\b.bin", loaded.entries[2].name);
  EXPECT_EQ(1u, loaded.entries[2].offset_high);
  EXPECT_EQ(0x60u, loaded.entries[2].offset_low);
}

TEST_F(Loader, ReadsA255ByteNameWholeAndAnEmptyName) {
  TempDir dir;
  std::string long_name(251, 'n');
  long_name += ".bin";
  Loaded loaded = LoadPackage(dir, EntryRecord(long_name, 0, 0) + EntryRecord("", 0, 0) + Trailer(0, 2));
  ASSERT_EQ(2, loaded.count);
  EXPECT_EQ(long_name, loaded.entries[0].name);
  EXPECT_STREQ("", loaded.entries[1].name);
}

TEST_F(Loader, SizeFigureIsFileSizeLessFourInWholeKiB) {
  TempDir dir;
  std::string directory = EntryRecord("x", 1, 0);
  std::string padding(1024 + 4 - 1 - directory.size() - kTrailerBytes, 'p');
  std::string package = "x" + padding + directory + Trailer(1 + padding.size(), 1);
  ASSERT_EQ(1028u, package.size());
  EXPECT_EQ(1, LoadPackage(dir, package).count);
  EXPECT_EQ(1, ArchiveSizeKiB());
  padding.pop_back();
  package = "x" + padding + directory + Trailer(1 + padding.size(), 1);
  EXPECT_EQ(1, LoadPackage(dir, package).count);
  EXPECT_EQ(0, ArchiveSizeKiB());
}

TEST_F(Loader, MissingOrEmptyPackageLoadsNothing) {
  TempDir dir;
  EXPECT_EQ(0, LoadArchiveDirectory(dir.path.c_str()));
  EXPECT_EQ(kPackageCannotOpen, LastPackageError());
  EXPECT_EQ(0, LoadPackage(dir, "").count);
  EXPECT_EQ(kPackageTooShort, LastPackageError());
  // No program folder (its path was cut) is no folder: "\\UPDATE.DAT" on the
  // current drive's root is never read instead.
  EXPECT_EQ(0, LoadArchiveDirectory(""));
  EXPECT_EQ(kPackageCannotOpen, LastPackageError());
}

// A refused package keeps nothing: not even part of its directory.
void ExpectRefused(const std::string &bytes, PackageError why) {
  TempDir dir;
  Loaded loaded = LoadPackage(dir, bytes);
  EXPECT_EQ(0, loaded.count);
  EXPECT_TRUE(loaded.entries.empty());
  EXPECT_EQ(why, LastPackageError());
}

TEST_F(LoaderRefusals, CountsThatNameNothingOrAreNegative) {
  ExpectRefused(Trailer(0, 0), kPackageEmptyCount);
  ExpectRefused(EntryRecord("a", 0, 0) + Trailer(0, 0x80000001u), kPackageNegativeCount);
  ExpectRefused(EntryRecord("a", 0, 0) + Trailer(0, 0xFFFFFFFFu), kPackageNegativeCount);
}

TEST_F(LoaderRefusals, DirectoriesOutsideTheFileOrShorterThanTheirCount) {
  ExpectRefused(EntryRecord("a", 0, 0) + Trailer(1000, 1), kPackageDirectoryOutside);
  ExpectRefused(EntryRecord("a", 0, 0) + Trailer(0x100000000ull, 1), kPackageDirectoryOutside);
  ExpectRefused(EntryRecord("a", 0, 0) + Trailer(0, 2), kPackageDirectoryShort);
  ExpectRefused(EntryRecord("a", 0, 0) + Trailer(0, 0x7FFFFFFF), kPackageDirectoryShort);
}

TEST_F(LoaderRefusals, NamesThatLeaveTheDestination) {
  const char *names[] = {
      "..\\evil.dll", "\\Windows\\evil.dll", "C:\\evil.dll", "a\\..\\..\\b", "a:b", "a\\\\b", "a\\.\\b", "a/../b",
      "sub\\"};
  for (const char *name : names) {
    SCOPED_TRACE(name);
    ExpectRefused(EntryRecord(name, 0, 0) + Trailer(0, 1), kPackageUnsafeName);
  }
}

TEST_F(LoaderRefusals, ARefusedPackageLeavesNoEntryOfAnEarlierLoad) {
  TempDir good;
  ASSERT_EQ(1, LoadPackage(good, kSample).count);
  ExpectRefused(EntryRecord("ok", 0, 0) + EntryRecord("..\\x", 0, 0) + Trailer(0, 2), kPackageUnsafeName);
  ArchiveEntry entry;
  EXPECT_EQ(-1, GetArchiveEntry(0, &entry));
}

} // namespace

namespace {

// The portable folding of names agrees with Windows on every character of
// code page 932: two characters fold alike exactly when Windows upper-cases
// them to the same character. And the file system folds a full-width pair.
TEST(NameFolding, AgreesWithWindowsOnEveryCharacterOfTheCodePage) {
  std::map<WCHAR, std::string> by_windows;
  std::map<std::string, WCHAR> by_fold;
  int checked = 0;
  for (unsigned code = 0x20; code <= 0xFCFC; ++code) {
    char bytes[3] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xFF), 0};
    bool two = code > 0xFF;
    if (!two && code >= 0x7F)
      continue;
    if (two &&
        (!IsLeadByte932(static_cast<unsigned char>(bytes[0])) || !IsTrailByte932(static_cast<unsigned char>(bytes[1]))))
      continue;
    const char *text = two ? bytes : bytes + 1;
    WCHAR wide[4];
    if (MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text, -1, wide, 4) != 2)
      continue;
    CharUpperBuffW(wide, 1);
    std::string folded = FoldNameCase(text);
    auto w = by_windows.emplace(wide[0], folded);
    auto f = by_fold.emplace(folded, wide[0]);
    EXPECT_EQ(w.first->second, folded) << std::hex << code;
    EXPECT_EQ(f.first->second, wide[0]) << std::hex << code;
    ++checked;
  }
  EXPECT_GT(checked, 7000);

  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir.Join("\x82\x60.txt"), "A")); // Ａ.txt
  EXPECT_EQ("A", ReadBytes(dir.Join("\x82\x81.txt")));    // ａ.txt
}

} // namespace
