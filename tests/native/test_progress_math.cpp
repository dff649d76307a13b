// Progress bar arithmetic: KiB per chunk and the percentage shown.
#include <gtest/gtest.h>

#include <climits>

#include "archive/progress_math.h"

TEST(ChunkKiB, RoundsEveryChunkUpToWholeKiB) {
  struct Case {
    uint32_t bytes;
    int32_t kib;
  } cases[] = {{0, 0},          {1, 1},          {1023, 1},
               {1024, 1},       {1025, 2},       {1048575, 1024},
               {1048576, 1024}, {1048577, 1025}, {0xFFFFFFFFu, 4194304}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(10 + c.kib, AddChunkKiB(10, c.bytes));
  }
}

TEST(ChunkKiB, SaturatesInsteadOfWrapping) {
  EXPECT_EQ(INT32_MAX, AddChunkKiB(INT32_MAX - 1, 4096));
  EXPECT_EQ(INT32_MAX, AddChunkKiB(INT32_MAX, 1));
}

TEST(ProgressPercent, TruncatesTheShareCopied) {
  EXPECT_EQ(0, ProgressPercent(0, 1000));
  EXPECT_EQ(0, ProgressPercent(9, 1000));
  EXPECT_EQ(1, ProgressPercent(10, 1000));
  EXPECT_EQ(50, ProgressPercent(1025, 2050));
  EXPECT_EQ(99, ProgressPercent(999, 1000));
  EXPECT_EQ(100, ProgressPercent(1000, 1000));
}

TEST(ProgressPercent, ShareBeyondTheWholeKeepsTheBarFull) {
  EXPECT_EQ(100, ProgressPercent(1001, 1000));
  EXPECT_EQ(100, ProgressPercent(5000, 47));
  EXPECT_EQ(100, ProgressPercent(INT32_MAX, 1));
}

TEST(ProgressPercent, PackageUnderOneKiBShowsAFullBar) {
  EXPECT_EQ(100, ProgressPercent(1, 0));
  EXPECT_EQ(100, ProgressPercent(0, 0));
  EXPECT_EQ(100, ProgressPercent(3, -1));
}

TEST(ProgressPercent, LargeCountsDoNotOverflow) {
  // 30 GiB of 40 GiB: the product by 100 exceeds 32 bits.
  EXPECT_EQ(75, ProgressPercent(30 * 1048576, 40LL * 1048576));
  EXPECT_EQ(49, ProgressPercent(INT32_MAX / 2, INT32_MAX)); // 49.99..., truncated
  EXPECT_EQ(0, ProgressPercent(INT32_MAX - 1, INT64_MAX));
}
