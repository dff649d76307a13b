// The package builder built for Windows: Japanese file names are read and
// stored in code page 932, as on a publisher's Linux machine.
#include <gtest/gtest.h>

#include "test_support.h"
#include "tools/mkupdate/package_builder.h"

namespace {

TEST(PackageBuilderOnWindows, PacksJapaneseNamesInCodePage932) {
  TempDir dir;
  std::string folder = dir.Join("in");
  CreateDirectoryA(folder.c_str(), nullptr);
  CreateDirectoryA((folder + "\\キャラ").c_str(), nullptr);
  ASSERT_TRUE(WriteBytes(folder + "\\キャラ\\ソ.bmp", "face"));
  ASSERT_TRUE(WriteBytes(folder + "\\readme.txt", "hello"));

  std::vector<PackFile> files;
  BuildReport report;
  ASSERT_TRUE(CollectPackFiles(folder, &files, &report)) << report.error;
  ASSERT_TRUE(WritePackage(files, dir.Join("UPDATE.DAT"), &report, nullptr)) << report.error;
  PackageCheck check;
  ASSERT_TRUE(CheckPackage(dir.Join("UPDATE.DAT"), &check));
  EXPECT_TRUE(check.problems.empty());
  ASSERT_EQ(2u, check.entries.size());
  EXPECT_EQ("readme.txt", check.entries[0].name);
  EXPECT_EQ("キャラ\\ソ.bmp", check.entries[1].name); // literals here are code page 932
  std::string package = ReadBytes(dir.Join("UPDATE.DAT"));
  EXPECT_EQ("face", package.substr(static_cast<size_t>(check.entries[1].offset), check.entries[1].size));
}

} // namespace
