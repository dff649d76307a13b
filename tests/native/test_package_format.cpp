// The package trailer and directory decoder, and the rules that refuse a
// package before anything is written.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/package_format.h"
#include "package_bytes.h"

namespace {

std::string Entry(const std::string &name, uint32_t size, uint32_t high, uint32_t low) {
  return EntryRecord(name, size, static_cast<uint64_t>(high) << 32 | low);
}

// A stream over a string, delivering at most `step` bytes per fill so that
// entries straddle the read-ahead buffer.
struct StringSource {
  std::string bytes;
  size_t at = 0;
  size_t step = 0;
  int fills = 0;
};

size_t FillFromString(void *context, unsigned char *dest, size_t want) {
  StringSource *source = static_cast<StringSource *>(context);
  size_t take = std::min(want, source->bytes.size() - source->at);
  if (source->step && take > source->step)
    take = source->step;
  std::memcpy(dest, source->bytes.data() + source->at, take);
  source->at += take;
  ++source->fills;
  return take;
}

struct Decoded {
  PackageError error;
  int32_t bad_entry;
  std::vector<ArchiveEntry> entries;
  int fills;
};

Decoded Decode(const std::string &directory, int32_t count, size_t buffer_bytes = 4096, size_t step = 0) {
  StringSource source{directory, 0, step, 0};
  std::vector<unsigned char> buffer(buffer_bytes);
  ByteStream stream;
  InitByteStream(&stream, FillFromString, &source, buffer.data(), buffer.size(), directory.size());
  Decoded decoded{kPackageOk, -2, std::vector<ArchiveEntry>(static_cast<size_t>(count)), 0};
  decoded.error = DecodeDirectory(&stream, count, decoded.entries.data(), &decoded.bad_entry);
  decoded.fills = source.fills;
  return decoded;
}

TEST(Trailer, DecodesTheSampleAndRoundTrips) {
  const unsigned char sample[kTrailerBytes] = {0, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0};
  PackageTrailer trailer = DecodeTrailer(sample);
  EXPECT_EQ(3u, trailer.directory_offset);
  EXPECT_EQ(1, trailer.count);
  unsigned char again[kTrailerBytes];
  EncodeTrailer(trailer, again);
  EXPECT_EQ(0, std::memcmp(sample, again, kTrailerBytes));
}

TEST(Trailer, HighHalfComesFirstAndCountIsSigned) {
  const unsigned char bytes[kTrailerBytes] = {1, 0, 0, 0, 0x10, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
  PackageTrailer trailer = DecodeTrailer(bytes);
  EXPECT_EQ(0x100000010ull, trailer.directory_offset);
  EXPECT_EQ(-1, trailer.count);
}

TEST(Trailer, ChecksAgainstTheFileSize) {
  uint64_t directory_bytes = 0;
  EXPECT_EQ(kPackageTooShort, CheckTrailer({0, 1}, 11, &directory_bytes));
  EXPECT_EQ(kPackageEmptyCount, CheckTrailer({0, 0}, 100, &directory_bytes));
  EXPECT_EQ(kPackageNegativeCount, CheckTrailer({0, INT32_MIN}, 100, &directory_bytes));
  // The sample: 18 directory bytes between offset 3 and the trailer at 21.
  EXPECT_EQ(kPackageOk, CheckTrailer({3, 1}, 33, &directory_bytes));
  EXPECT_EQ(18u, directory_bytes);
  // The directory must lie before the trailer.
  EXPECT_EQ(kPackageDirectoryOutside, CheckTrailer({22, 1}, 33, &directory_bytes));
  EXPECT_EQ(kPackageDirectoryOutside, CheckTrailer({0x100000003ull, 1}, 33, &directory_bytes));
  // Each entry needs at least 13 bytes: 18 bytes hold one, 26 hold two.
  EXPECT_EQ(kPackageDirectoryShort, CheckTrailer({3, 2}, 33, &directory_bytes));
  EXPECT_EQ(kPackageOk, CheckTrailer({0, 2}, 26 + kTrailerBytes, &directory_bytes));
  EXPECT_EQ(kPackageDirectoryShort, CheckTrailer({0, INT32_MAX}, 1u << 20, &directory_bytes));
}

TEST(Trailer, PackagesBeyondFourGiBAreMeasuredIn64Bits) {
  uint64_t size = 5ull << 30;
  uint64_t directory_bytes = 0;
  EXPECT_EQ(kPackageOk, CheckTrailer({size - kTrailerBytes - 13, 1}, size, &directory_bytes));
  EXPECT_EQ(static_cast<int64_t>(size - 4), PackageSizeFigure(size));
  EXPECT_EQ(static_cast<int64_t>((size - 4) / 1024), SizeFigureKiB(PackageSizeFigure(size)));
}

TEST(SizeFigure, IsFileSizeLessFourInWholeKiB) {
  EXPECT_EQ(1024, PackageSizeFigure(1028));
  EXPECT_EQ(1, SizeFigureKiB(PackageSizeFigure(1028)));
  EXPECT_EQ(0, SizeFigureKiB(PackageSizeFigure(1027)));
  EXPECT_EQ(-1, PackageSizeFigure(0));
  // 2 GiB and more stays positive.
  EXPECT_EQ(2097152, SizeFigureKiB(PackageSizeFigure((2ull << 30) + 4)));
}

TEST(Directory, DecodesEntriesAsStored) {
  std::string directory =
      Entry("readme.txt", 10, 0, 0) + Entry("data\\a.bin", 50, 0, 10) + Entry("data\\b.bin", 7, 1, 0x60);
  Decoded decoded = Decode(directory, 3);
  ASSERT_EQ(kPackageOk, decoded.error);
  EXPECT_EQ(-1, decoded.bad_entry);
  EXPECT_STREQ("data\\a.bin", decoded.entries[1].name);
  EXPECT_EQ(50u, decoded.entries[1].size);
  EXPECT_EQ(0x100000060ull, EntryDataOffset(decoded.entries[2]));
}

TEST(Directory, Takes255ByteNamesWholeAndEmptyNames) {
  std::string name(255, 'x');
  Decoded decoded = Decode(Entry(name, 1, 0, 0) + Entry("", 2, 0, 0), 2);
  ASSERT_EQ(kPackageOk, decoded.error);
  EXPECT_EQ(name, decoded.entries[0].name);
  EXPECT_STREQ("", decoded.entries[1].name);
  EXPECT_EQ(2u, decoded.entries[1].size);
}

TEST(Directory, ReadsInFewLargeFillsAndAcrossBufferEdges) {
  std::string directory;
  for (int i = 0; i < 1000; ++i)
    directory += Entry("dir\\file" + std::to_string(i) + ".bin", static_cast<uint32_t>(i), 0, static_cast<uint32_t>(i));
  Decoded big = Decode(directory, 1000, 256 * 1024);
  ASSERT_EQ(kPackageOk, big.error);
  EXPECT_LE(big.fills, 2);
  // A tiny buffer and short fills split names and numbers; same result.
  Decoded small = Decode(directory, 1000, 7, 3);
  ASSERT_EQ(kPackageOk, small.error);
  for (int i = 0; i < 1000; ++i) {
    EXPECT_STREQ(big.entries[i].name, small.entries[i].name);
    EXPECT_EQ(big.entries[i].offset_low, small.entries[i].offset_low);
  }
}

TEST(Directory, AShortDirectoryIsRefusedNamingTheEntry) {
  std::string directory = Entry("a", 1, 0, 0) + Entry("b", 1, 0, 0);
  for (size_t cut : {directory.size() - 1, directory.size() - 12, size_t{15}}) {
    Decoded decoded = Decode(directory.substr(0, cut), 2);
    EXPECT_EQ(kPackageDirectoryShort, decoded.error) << cut;
    EXPECT_EQ(1, decoded.bad_entry);
  }
  // A name length that runs past the end.
  EXPECT_EQ(kPackageDirectoryShort, Decode(std::string(1, '\xFF') + "abc", 1).error);
}

TEST(Directory, AnUnsafeNameRefusesTheWholeDirectory) {
  Decoded decoded = Decode(Entry("ok.txt", 0, 0, 0) + Entry("..\\x.dll", 0, 0, 0), 2);
  EXPECT_EQ(kPackageUnsafeName, decoded.error);
  EXPECT_EQ(1, decoded.bad_entry);
}

TEST(DirectoryArray, OverflowAndNonPositiveCountsGiveNoSize) {
  EXPECT_EQ(0u, DirectoryArrayBytes(0));
  EXPECT_EQ(0u, DirectoryArrayBytes(-1));
  EXPECT_EQ(sizeof(ArchiveEntry) * 3, DirectoryArrayBytes(3));
  if (sizeof(size_t) == 4)
    EXPECT_EQ(0u, DirectoryArrayBytes(INT32_MAX));
}

bool Safe(const std::string &name) { return IsSafeEntryName(name.data(), name.size()); }

TEST(EntryNames, OrdinaryRelativeNamesAreSafe) {
  for (const char *name : {"a.txt", "data\\a.bin", "a\\b\\c.bin", "..a", "a.b", ".hidden", "a b\\c d", "console.txt",
                           "com10", "lpt0.txt", "nul_x", "xcon", "con\x83\x40"})
    EXPECT_TRUE(Safe(name)) << name;
  EXPECT_TRUE(Safe("")); // reported later by the extraction pass
}

TEST(EntryNames, NamesThatCouldLeaveTheDestinationAreRefused) {
  for (const char *name : {"\\abs.txt", "C:\\x", "C:x", "a:b", "a\\b:stream", "..", ".", "..\\x", "a\\..\\..\\x",
                           "a\\.\\b", "a\\\\b", "a\\", "/etc/x", "a/../b", "...", ". .", "a\\ \\b"})
    EXPECT_FALSE(Safe(name)) << name;
  EXPECT_FALSE(Safe(std::string("a\0b", 3)));
}

// Windows drops a trailing dot or space and opens device names anywhere, so
// such a component would name another file than it says, or no file at all.
TEST(EntryNames, ComponentsWindowsWouldNotKeepAsWrittenAreRefused) {
  for (const char *name : {"a..", "a.bin.", "a.bin ", "sub.\\a", "sub \\a", "CON", "con.txt", "sub\\Nul", "aux .log",
                           "PRN.a.b", "com1", "COM9.bin", "lpt5", "LPT1\\x", "conin$", "CONOUT$.txt", "\x83\x5C."})
    EXPECT_FALSE(Safe(name)) << name;
}

// Names compared as Windows compares them: letter case folded, full-width,
// Greek and Cyrillic letters too, and a character spelt twice in code page
// 932 (NEC and IBM rows) is one; and the run record's own name is taken.
TEST(EntryNames, AnEntryNamedAsAnothersBackupOrAsTheRunRecordIsRefused) {
  struct Case {
    std::vector<const char *> names;
    int32_t bad_entry; // -1: accepted
    PackageError error = kPackageBackupNameClash;
  };
  const std::vector<Case> cases = {
      {{"a.bin", "b.bin", "a.bin_old2"}, -1},
      {{"a.bin_old", "a.bin"}, 1},
      {{"sub\\X.TXT", "b", "sub\\x.txt_OLD"}, 2},
      // The trail byte 0x41 of "\x83\x41" (ア) is no letter.
      {{"\x83\x41", "\x83\x61_old"}, -1},
      {{"\x83\x41", "\x83\x41_old"}, 1},
      {{"\x82\x60.txt", "\x82\x81.txt_old"}, 1}, // Ａ.txt and ａ.txt_old
      {{"\x83\xBF", "\x83\x9F_old"}, 1},         // α and Α_old
      {{"\x84\x76", "\x84\x46_OLD"}, 1},         // ё and Ё_OLD
      {{"\xFA\x40", "\xEE\xEF_old", "x"}, 1},    // ⅰ (IBM) and ⅰ (NEC-selected)_old
      {{"\x82\x60", "\x82\x61_old"}, -1},        // Ａ and Ｂ_old
      {{"a", "UPDATE.RUN"}, 1, kPackageReservedName},
      {{"sub\\update.run", "update.run2"}, -1},
  };
  for (const Case &c : cases) {
    int32_t bad = -1;
    PackageError error = CheckBackupNameClashes(c.names.data(), static_cast<int32_t>(c.names.size()), &bad);
    EXPECT_EQ(c.bad_entry < 0 ? kPackageOk : c.error, error) << c.names[0];
    if (c.bad_entry >= 0) {
      EXPECT_EQ(c.bad_entry, bad) << c.names[0];
    }
  }
}

TEST(EntryNames, TrailBytesOfDoubleByteCharactersAreNoSeparators) {
  // ソ is 0x83 0x5C: "ソ\x.bin" has one separator, after the character.
  EXPECT_TRUE(Safe("\x83\x5C\\x.bin"));
  EXPECT_TRUE(Safe("\x83\x5C.bin"));
  // Read bytewise, "\x83\\\\x" would hold an empty component; it does not.
  EXPECT_TRUE(Safe("a\\\x83\x5C\\b"));
  // A lead byte with nothing after it ends the name inside a character.
  EXPECT_FALSE(Safe("abc\x83"));
  // A lead byte followed by a byte that is no trail byte: Windows reads the
  // second byte on its own, so "\x8D:" holds a real ':'.
  EXPECT_FALSE(Safe("\x8D:stream"));
  EXPECT_FALSE(Safe("a\x81/b"));
  EXPECT_FALSE(Safe(std::string("a\x81\0b", 4)));
  EXPECT_FALSE(Safe("\x81\x7F"));
  EXPECT_TRUE(Safe("\x81\x40\x81\xFC"));
  // ".\x83\x5C" is no dots-only component.
  EXPECT_TRUE(Safe(".\x83\x5C"));
}

} // namespace
