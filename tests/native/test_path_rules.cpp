// Code page 932 separator search and the bounded text helpers.
#include <gtest/gtest.h>

#include <string>

#include "common/cp932.h"
#include "common/text.h"
#include "journal/backup_name.h"

namespace {

TEST(LeadBytes, FollowCodePage932Ranges) {
  EXPECT_FALSE(IsLeadByte932(0x80));
  EXPECT_TRUE(IsLeadByte932(0x81));
  EXPECT_TRUE(IsLeadByte932(0x9F));
  EXPECT_FALSE(IsLeadByte932(0xA0));
  EXPECT_FALSE(IsLeadByte932(0xDF)); // half-width katakana are single bytes
  EXPECT_TRUE(IsLeadByte932(0xE0));
  EXPECT_TRUE(IsLeadByte932(0xFC));
  EXPECT_FALSE(IsLeadByte932(0xFD));
  EXPECT_FALSE(IsLeadByte932('\\'));
}

TEST(LastSeparator, SkipsTrailBytesOfDoubleByteCharacters) {
  EXPECT_EQ(-1, FindLastSeparator(""));
  EXPECT_EQ(-1, FindLastSeparator("abc"));
  EXPECT_EQ(8, FindLastSeparator("D:\\Games\\Title"));
  // "D:\ソフト" : the 0x5C of ソ is not a separator.
  EXPECT_EQ(2, FindLastSeparator("D:\\ソフト"));
  EXPECT_EQ(2, FindLastSeparator("D:\\ソ"));
  // "D:\ソ\" ends in a true separator.
  EXPECT_EQ(5, FindLastSeparator("D:\\ソ\\"));
  // Half-width katakana (0xBF) is a single byte; the \ after it is real.
  EXPECT_EQ(1, FindLastSeparator("\xBF\\x"));
  // A dangling lead byte at the end does not read past the terminator.
  EXPECT_EQ(1, FindLastSeparator("a\\\x83"));
}

TEST(LastSeparator, TrailingSeparatorIsJudgedTheSameWay) {
  EXPECT_TRUE(EndsWithSeparator("D:\\"));
  EXPECT_TRUE(EndsWithSeparator("D:\\ソ\\"));
  EXPECT_FALSE(EndsWithSeparator("D:\\ソ"));
  EXPECT_FALSE(EndsWithSeparator(""));
}

TEST(BoundedText, CopyAndAppendRefuseToTruncate) {
  char buffer[8];
  EXPECT_EQ(0, CopyText(buffer, sizeof buffer, "1234567"));
  EXPECT_STREQ("1234567", buffer);
  EXPECT_EQ(-1, CopyText(buffer, sizeof buffer, "12345678"));
  EXPECT_STREQ("", buffer);
  EXPECT_EQ(0, CopyText(buffer, sizeof buffer, "1234"));
  EXPECT_EQ(-1, AppendText(buffer, sizeof buffer, "5678"));
  EXPECT_STREQ("1234", buffer);
  EXPECT_EQ(0, AppendText(buffer, sizeof buffer, "567"));
  EXPECT_STREQ("1234567", buffer);
}

TEST(BoundedText, FormatReportsACutResult) {
  char buffer[16];
  EXPECT_EQ(0, FormatText(buffer, sizeof buffer, "\"%s\"", "a.txt"));
  EXPECT_STREQ("\"a.txt\"", buffer);
  EXPECT_EQ(-1, FormatText(buffer, sizeof buffer, "%s", "0123456789abcdef"));
  EXPECT_EQ(15u, std::string(buffer).size());
}

TEST(JoinedPaths, InsertOneSeparatorAndFitWithTheirTerminator) {
  char path[260];
  EXPECT_EQ(0, JoinPath(path, sizeof path, "D:\\Game", "a.txt"));
  EXPECT_STREQ("D:\\Game\\a.txt", path);
  EXPECT_EQ(0, JoinPath(path, sizeof path, "D:\\", "a.txt"));
  EXPECT_STREQ("D:\\a.txt", path);
  // A folder ending in ソ gets its separator: 0x5C there is a trail byte.
  EXPECT_EQ(0, JoinPath(path, sizeof path, "D:\\ソ", "a.txt"));
  EXPECT_STREQ("D:\\ソ\\a.txt", path);
  std::string folder(200, 'f');
  EXPECT_EQ(0, JoinPath(path, sizeof path, folder.c_str(), std::string(58, 'n').c_str())); // 259 bytes
  EXPECT_EQ(259u, std::string(path).size());
  EXPECT_EQ(-1, JoinPath(path, sizeof path, folder.c_str(), std::string(59, 'n').c_str()));
  EXPECT_STREQ("", path);
}

TEST(BackupNames, AppendOldWhileTheResultFits) {
  char path[260];
  std::string p255(255, 'p');
  CopyText(path, sizeof path, p255.c_str());
  ASSERT_EQ(path, AppendBackupSuffix(path));
  EXPECT_EQ(p255 + "_old", path);
  EXPECT_EQ(259u, std::string(path).size());
  std::string p256(256, 'p');
  CopyText(path, sizeof path, p256.c_str());
  EXPECT_EQ(nullptr, AppendBackupSuffix(path));
  EXPECT_EQ(p256, path);
  CopyText(path, sizeof path, "");
  EXPECT_STREQ("_old", AppendBackupSuffix(path));
}

} // namespace
