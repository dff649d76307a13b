// The package builder: the bytes it writes, the order it chooses, the names
// it refuses, packages of what changed against an old folder, and
// verification with the installer's own rules and the data check.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/hash.h"
#include "package_bytes.h"
#include "tools/mkupdate/encoding.h"
#include "tools/mkupdate/package_builder.h"

namespace fs = std::filesystem;

namespace {

struct Scratch {
  fs::path root;
  Scratch() {
    static int serial = 0;
    root = fs::temp_directory_path() / ("mkupdate_test_" + std::to_string(getpid()) + "_" + std::to_string(++serial));
    fs::create_directories(root / "in");
  }
  ~Scratch() { fs::remove_all(root); }
  void Add(const std::string &relative_utf8, const std::string &bytes, const char *folder = "in") const {
    fs::path path = root / folder / fs::u8path(relative_utf8);
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }
  void AddOld(const std::string &relative_utf8, const std::string &bytes) const { Add(relative_utf8, bytes, "old"); }
  std::string In() const { return (root / "in").string(); }
  std::string Old() const { return (root / "old").string(); }
  std::string Out() const { return (root / "UPDATE.DAT").string(); }
};

std::string ReadAll(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string &path, const std::string &bytes) { std::ofstream(path, std::ios::binary) << bytes; }

bool Build(const Scratch &scratch, BuildReport *report, std::vector<PackFile> *files = nullptr) {
  std::vector<PackFile> local;
  std::vector<PackFile> &list = files ? *files : local;
  if (!CollectPackFiles(scratch.In(), &list, report))
    return false;
  WarnAboutUncreatedDirectories(list, report);
  return WritePackage(list, scratch.Out(), report, nullptr);
}

std::vector<std::string> Names(const PackageCheck &check) {
  std::vector<std::string> names;
  for (const ListedEntry &entry : check.entries)
    names.push_back(entry.name);
  return names;
}

std::string Le64(uint64_t value) {
  return Le32(static_cast<uint32_t>(value)) + Le32(static_cast<uint32_t>(value >> 32));
}

TEST(Build, OneFileGivesTheSampleWithItsDataCheck) {
  Scratch scratch;
  scratch.Add("a.txt", "abc");
  BuildReport report;
  ASSERT_TRUE(Build(scratch, &report)) << report.error;
  // 61 62 63 | 05 "a.txt" 03 00 00 00 + 8 zero bytes | data check | trailer 0, 3, 1.
  const std::string data_and_directory = std::string("abc\x05"
                                                     "a.txt\x03",
                                                     10) +
                                         std::string(11, '\0');
  // The hash of "abc" (XXH3-64), then the hash of the directory's 18 bytes.
  const std::string check_body = "UDCK" + Le32(2) + Le32(1) + Le64(0x78AF5F94892F3950ull) +
                                 Le64(HashBytes(data_and_directory.data() + 3, 18));
  const std::string expected = data_and_directory + check_body + Le64(HashBytes(check_body.data(), check_body.size())) +
                               std::string("\0\0\0\0\x03\0\0\0\x01\0\0\0", 12);
  ASSERT_EQ(69u, expected.size());
  EXPECT_EQ(expected, ReadAll(scratch.Out()));
  EXPECT_EQ(69u, report.package_bytes);
  EXPECT_FALSE(fs::exists(scratch.Out() + ".part"));
}

TEST(Build, ShallowerFilesComeFirstSoParentsAreCreatedInOrder) {
  Scratch scratch;
  scratch.Add("z.txt", "z");
  scratch.Add("data/b/deep.bin", "d");
  scratch.Add("data/a.bin", "a");
  scratch.Add("data/b/c.bin", "c");
  BuildReport report;
  ASSERT_TRUE(Build(scratch, &report)) << report.error;
  EXPECT_TRUE(report.warnings.empty());
  PackageCheck check;
  ASSERT_TRUE(CheckPackage(scratch.Out(), &check));
  EXPECT_TRUE(check.problems.empty());
  EXPECT_EQ((std::vector<std::string>{"z.txt", "data\\a.bin", "data\\b\\c.bin", "data\\b\\deep.bin"}), Names(check));
}

TEST(Build, WarnsAboutAFolderThatNoFileOfItsOwnCreates) {
  Scratch scratch;
  scratch.Add("only/sub/x.bin", "x");
  BuildReport report;
  ASSERT_TRUE(Build(scratch, &report)) << report.error;
  ASSERT_EQ(1u, report.warnings.size());
  EXPECT_NE(std::string::npos, report.warnings[0].find("\"only\""));
}

TEST(Build, ConvertsJapaneseNamesToCodePage932) {
  Scratch scratch;
  scratch.Add(u8"ソフト/データ.bin", "x");
  scratch.Add(u8"ソ.txt", "y");
  BuildReport report;
  ASSERT_TRUE(Build(scratch, &report)) << report.error;
  PackageCheck check;
  ASSERT_TRUE(CheckPackage(scratch.Out(), &check));
  ASSERT_EQ(2u, check.entries.size());
  EXPECT_EQ(std::string("\x83\x5C.txt"), check.entries[0].name);
  EXPECT_EQ(std::string("\x83\x5C\x83\x74\x83\x67\\\x83\x66\x81\x5B\x83\x5E.bin"), check.entries[1].name);
  // The folder ソフト is created by its own file: no warning.
  EXPECT_TRUE(report.warnings.empty());
}

TEST(Build, RefusesNamesWithoutACodePage932FormOrTooLong) {
  {
    Scratch scratch;
    scratch.Add("emoji\xF0\x9F\x98\x80.txt", "x");
    BuildReport report;
    EXPECT_FALSE(Build(scratch, &report));
    EXPECT_NE(std::string::npos, report.error.find("code page 932"));
    EXPECT_FALSE(fs::exists(scratch.Out()));
  }
  {
    Scratch scratch;
    // Three folders of 43 double-byte characters: 86 bytes each in code
    // page 932, 260 with the separators.
    std::string part;
    for (int i = 0; i < 43; ++i)
      part += u8"あ";
    scratch.Add(part + "/" + part + "/" + part, "x");
    BuildReport report;
    EXPECT_FALSE(Build(scratch, &report));
    EXPECT_NE(std::string::npos, report.error.find("255"));
  }
}

TEST(Build, AnEmptyFolderIsAnError) {
  Scratch scratch;
  BuildReport report;
  EXPECT_FALSE(Build(scratch, &report));
  EXPECT_FALSE(report.error.empty());
}

TEST(Build, ZeroLengthFilesAndLargeFilesRoundTrip) {
  Scratch scratch;
  std::string big(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<char>(i * 7 + 3);
  scratch.Add("empty.bin", "");
  scratch.Add("big.bin", big);
  BuildReport report;
  ASSERT_TRUE(Build(scratch, &report)) << report.error;
  PackageCheck check;
  ASSERT_TRUE(CheckPackage(scratch.Out(), &check));
  ASSERT_EQ(2u, check.entries.size());
  std::string package = ReadAll(scratch.Out());
  EXPECT_EQ("big.bin", check.entries[0].name);
  EXPECT_EQ(big, package.substr(check.entries[0].offset, check.entries[0].size));
  EXPECT_EQ(0u, check.entries[1].size);
}

TEST(Verify, RefusesWhatTheInstallerRefuses) {
  Scratch scratch;
  // The 33-byte package of "a.txt" without a data check: the cuts below
  // land on its trailer and names.
  std::string good = PackageBytes({{"a.txt", "abc"}});
  ASSERT_EQ(33u, good.size());
  std::string checked = PackageBytesWithDataCheck({{"a.txt", "abc"}});
  std::string damaged_check = checked;
  damaged_check[21 + 12] ^= 0x01; // the hash of "a.txt" in the block
  struct Case {
    const char *what;
    std::string bytes;
  } cases[] = {
      {"empty file", ""},
      {"truncated trailer", good.substr(0, 11)},
      {"count of zero", good.substr(0, 29) + std::string(4, '\0')},
      {"negative count", good.substr(0, 29) + "\xFF\xFF\xFF\xFF"},
      {"directory past the end", good.substr(0, 21) + std::string("\0\0\0\0\x40\0\0\0\x01\0\0\0", 12)},
      {"count too large", good.substr(0, 29) + std::string("\x02\0\0\0", 4)},
      {"unsafe name", good.substr(0, 4) + "..\\tx" + good.substr(9)},
      {"damaged data check", damaged_check},
  };
  for (const Case &c : cases) {
    WriteAll(scratch.Out(), c.bytes);
    PackageCheck check;
    CheckPackage(scratch.Out(), &check);
    EXPECT_FALSE(check.problems.empty()) << c.what;
  }
}

TEST(Verify, ReportsDataPastTheEndAndEmptyNames) {
  Scratch scratch;
  // Entry "a" of 100 bytes at offset 0, in a file of 29 bytes.
  std::string package = std::string("abc") +
                        std::string("\x01"
                                    "a\x64\0\0\0\0\0\0\0\0\0\0\0",
                                    14) +
                        std::string("\0\0\0\0\x03\0\0\0\x01\0\0\0", 12);
  WriteAll(scratch.Out(), package);
  PackageCheck check;
  ASSERT_TRUE(CheckPackage(scratch.Out(), &check));
  EXPECT_FALSE(check.problems.empty());
  std::string empty_name =
      std::string("\0\0\0\0\0\0\0\0\0\0\0\0\0", 13) + std::string("\0\0\0\0\0\0\0\0\x01\0\0\0", 12);
  WriteAll(scratch.Out(), empty_name);
  PackageCheck second;
  ASSERT_TRUE(CheckPackage(scratch.Out(), &second));
  ASSERT_EQ(1u, second.problems.size());
  EXPECT_NE(std::string::npos, second.problems[0].find("empty"));
}

// Builds the scratch input into a package and flips one data byte of the
// entry named victim.
std::string BuildAndDamage(const Scratch &scratch, const std::string &victim) {
  BuildReport report;
  EXPECT_TRUE(Build(scratch, &report)) << report.error;
  PackageCheck check;
  EXPECT_TRUE(CheckPackage(scratch.Out(), &check));
  std::string package = ReadAll(scratch.Out());
  for (const ListedEntry &entry : check.entries) {
    if (entry.name == victim)
      package[entry.offset + entry.size / 2] ^= 0x20;
  }
  return package;
}

TEST(Verify, NamesTheEntryWhoseDataWasDamaged) {
  Scratch scratch;
  scratch.Add("readme.txt", "hello");
  scratch.Add("data/script.dat", std::string(5000, 's'));
  scratch.Add("data/empty.bin", "");
  BuildReport report;
  ASSERT_TRUE(Build(scratch, &report)) << report.error;
  PackageCheck sound;
  ASSERT_TRUE(CheckPackage(scratch.Out(), &sound));
  EXPECT_EQ(3u, sound.hashes.size());
  ASSERT_TRUE(CheckPackageData(scratch.Out(), &sound));
  EXPECT_TRUE(sound.problems.empty());

  WriteAll(scratch.Out(), BuildAndDamage(scratch, "data\\script.dat"));
  PackageCheck check;
  ASSERT_TRUE(CheckPackage(scratch.Out(), &check));
  EXPECT_TRUE(check.problems.empty()); // the directory is sound; only the data is not
  ASSERT_TRUE(CheckPackageData(scratch.Out(), &check));
  ASSERT_EQ(1u, check.damaged.size());
  EXPECT_EQ("data\\script.dat", check.entries[check.damaged[0]].name);
  ASSERT_EQ(1u, check.problems.size());
  EXPECT_NE(std::string::npos, check.problems[0].find("data\\script.dat"));
}

TEST(Verify, APackageWithoutADataCheckIsCheckedAsBefore) {
  Scratch scratch;
  WriteAll(scratch.Out(), PackageBytes({{"a.txt", "abc"}}));
  PackageCheck check;
  ASSERT_TRUE(CheckPackage(scratch.Out(), &check));
  EXPECT_TRUE(check.hashes.empty());
  ASSERT_TRUE(CheckPackageData(scratch.Out(), &check));
  EXPECT_TRUE(check.problems.empty());
  EXPECT_EQ(1u, check.entries.size());
}

bool BuildAgainstOld(const Scratch &scratch, BuildReport *report, BaseDiff *diff) {
  std::vector<PackFile> files;
  if (!CollectPackFiles(scratch.In(), &files, report) ||
      !KeepChangedFiles(scratch.Old(), scratch.In(), &files, diff, report))
    return false;
  WarnAboutUncreatedDirectories(files, report, diff->existing_folders);
  return WritePackage(files, scratch.Out(), report, nullptr);
}

TEST(BuildAgainstOld, PacksOnlyWhatChangedAndWarnsAboutRemovedFiles) {
  Scratch scratch;
  scratch.AddOld("same.txt", "same");
  scratch.AddOld("longer.txt", "old");
  scratch.AddOld("data/same_size.bin", "abc");
  scratch.AddOld("data/gone.bin", "g");
  scratch.Add("same.txt", "same");
  scratch.Add("longer.txt", "newer");
  scratch.Add("data/same_size.bin", "abd");
  scratch.Add("data/new.bin", "n");
  BuildReport report;
  BaseDiff diff;
  ASSERT_TRUE(BuildAgainstOld(scratch, &report, &diff)) << report.error;
  PackageCheck check;
  ASSERT_TRUE(CheckPackage(scratch.Out(), &check));
  EXPECT_EQ((std::vector<std::string>{"longer.txt", "data\\new.bin", "data\\same_size.bin"}), Names(check));
  EXPECT_EQ((std::vector<std::string>{"data/new.bin"}), diff.added);
  EXPECT_EQ((std::vector<std::string>{"longer.txt", "data/same_size.bin"}), diff.changed);
  EXPECT_EQ((std::vector<std::string>{"same.txt"}), diff.unchanged);
  EXPECT_EQ((std::vector<std::string>{"data/gone.bin"}), diff.removed);
  ASSERT_EQ(1u, report.warnings.size());
  EXPECT_NE(std::string::npos, report.warnings[0].find("data/gone.bin"));
}

TEST(BuildAgainstOld, FoldersOfTheOldFolderNeedNoFileToCreateThem) {
  Scratch scratch;
  scratch.AddOld("data/x.bin", "x");
  scratch.Add("data/x.bin", "x");
  scratch.Add("data/sub/y.bin", "y");  // data exists in the game: sub is created by y.bin
  scratch.Add("other/sub/z.bin", "z"); // no file creates other
  BuildReport report;
  BaseDiff diff;
  ASSERT_TRUE(BuildAgainstOld(scratch, &report, &diff)) << report.error;
  ASSERT_EQ(1u, report.warnings.size());
  EXPECT_NE(std::string::npos, report.warnings[0].find("\"other\""));
}

TEST(BuildAgainstOld, NothingChangedIsAnError) {
  Scratch scratch;
  scratch.AddOld("a.txt", "a");
  scratch.Add("a.txt", "a");
  BuildReport report;
  BaseDiff diff;
  EXPECT_FALSE(BuildAgainstOld(scratch, &report, &diff));
  EXPECT_NE(std::string::npos, report.error.find("nothing to pack"));
  EXPECT_FALSE(fs::exists(scratch.Out()));
}

TEST(Encoding, ConvertsExactlyOrNotAtAll) {
  std::string cp932;
  ASSERT_TRUE(Utf8ToCp932(u8"インストール", &cp932));
  EXPECT_EQ(12u, cp932.size());
  EXPECT_EQ('\x83', cp932[0]);
  std::string back;
  ASSERT_TRUE(Cp932ToUtf8(cp932, &back));
  EXPECT_EQ(u8"インストール", back);
  EXPECT_FALSE(Utf8ToCp932("\xF0\x9F\x98\x80", &cp932));
  EXPECT_FALSE(Utf8ToCp932("\xFF", &cp932)); // not UTF-8
}

} // namespace
