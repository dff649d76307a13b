// Destination rules, space figures and centring arithmetic of the windows.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ui/layout_math.h"
#include "ui/space_math.h"

namespace {

TEST(RequiredMiB, RoundsThePackageUpAndAddsFour) {
  struct Case {
    int64_t kib;
    uint32_t mib;
  } cases[] = {{0, 4}, {1, 5}, {1023, 5}, {1024, 5}, {1025, 6}, {2048, 6}, {2049, 7}, {4194300, 4100}};
  for (const Case &c : cases)
    EXPECT_EQ(c.mib, RequiredMiB(c.kib)) << c.kib << " KiB";
}

TEST(RequiredMiB, SaturatesInsteadOfWrapping) {
  // 2^31 KiB would wrap a 32-bit sum; 2^42 KiB is beyond any 32-bit MiB figure.
  EXPECT_EQ(2097156u, RequiredMiB(int64_t(1) << 31));
  EXPECT_EQ(UINT32_MAX, RequiredMiB(int64_t(1) << 42));
  EXPECT_EQ(4u, RequiredMiB(-1));
}

TEST(BytesToMiB, TruncatesAndSaturates) {
  const uint64_t kMiB = 1 << 20;
  EXPECT_EQ(0u, BytesToMiB(kMiB - 1));
  EXPECT_EQ(1u, BytesToMiB(kMiB));
  EXPECT_EQ(1u, BytesToMiB(2 * kMiB - 1));
  EXPECT_EQ(UINT32_MAX, BytesToMiB(uint64_t(1) << 52)); // 2^32 MiB
  EXPECT_EQ(UINT32_MAX, BytesToMiB(UINT64_MAX));
}

TEST(SpaceText, ShowsRequiredThenFree) {
  char text[64];
  ASSERT_EQ(0, FormatSpaceText(text, sizeof text, 5, 123));
  EXPECT_STREQ("HDD要:5M HDD空き:123M", text);
  ASSERT_EQ(0, FormatSpaceText(text, sizeof text, 4294967295u, 0));
  EXPECT_STREQ("HDD要:4294967295M HDD空き:0M", text);
  char small[8];
  EXPECT_EQ(-1, FormatSpaceText(small, sizeof small, 5, 123));
  EXPECT_LT(std::strlen(small), sizeof small);
}

TEST(Destination, TooLongAbove200Bytes) {
  std::string path = "C:\\" + std::string(197, 'a');
  ASSERT_EQ(200u, path.size());
  EXPECT_FALSE(IsDestinationTooLong(path.c_str()));
  EXPECT_EQ(kDestinationOnDrive, ClassifyDestination(path.c_str()));
  path += 'a';
  EXPECT_TRUE(IsDestinationTooLong(path.c_str()));
  EXPECT_EQ(kDestinationTooLong, ClassifyDestination(path.c_str()));
  EXPECT_EQ(26u, std::strlen(kDestinationTooDeepNote));
  EXPECT_EQ(kDestinationOther, ClassifyDestination(kDestinationTooDeepNote));
}

TEST(Destination, DriveForms) {
  struct Case {
    const char *path;
    bool letter_form;
    bool full_form;
  } cases[] = {
      {"C:\\Games", true, true},   {"z:\\", true, true},
      {"C:", true, false},         {"C:Games", true, false},
      {"", false, false},          {"C", false, false},
      {"1:\\Games", false, false}, {"\\\\server\\share", false, false},
      {":\\", false, false},       {"\x82\x60:\\", false, false}, // a double-byte letter is no drive letter
  };
  for (const Case &c : cases) {
    EXPECT_EQ(c.letter_form, HasDriveLetterForm(c.path)) << c.path;
    EXPECT_EQ(c.full_form, HasFullDriveForm(c.path)) << c.path;
  }
  EXPECT_EQ(kDestinationOther, ClassifyDestination("\\\\server\\share\\Games"));
  EXPECT_EQ(kDestinationOnDrive, ClassifyDestination("D:"));
}

TEST(CenteredOrigin, TruncatesTheHalfTowardZero) {
  EXPECT_EQ(299, CenteredOrigin(0, 998, 400));
  EXPECT_EQ(299, CenteredOrigin(0, 999, 400));
  EXPECT_EQ(-50, CenteredOrigin(0, 500, 601));
  EXPECT_EQ(-50 + 100, CenteredOrigin(100, 500, 601));
  EXPECT_EQ(-1, CenteredOrigin(-1, 400, 400));
}

} // namespace
