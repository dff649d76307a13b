// The data check block and its hash: the bytes written, every way a block
// is refused, and how the package reader treats packages with and without one.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/data_check.h"
#include "archive/hash.h"
#include "archive/package_format.h"
#include "package_bytes.h"

namespace {

const unsigned char *Bytes(const std::string &text) { return reinterpret_cast<const unsigned char *>(text.data()); }

uint64_t Hash(const std::string &text) { return HashBytes(text.data(), text.size()); }

std::string Le64(uint64_t value) {
  return Le32(static_cast<uint32_t>(value)) + Le32(static_cast<uint32_t>(value >> 32));
}

std::string Encode(const std::vector<uint64_t> &hashes, uint64_t directory_hash = 0) {
  std::string block(DataCheckBytes(static_cast<int32_t>(hashes.size())), '\0');
  size_t written = EncodeDataCheck(hashes.data(), static_cast<int32_t>(hashes.size()), directory_hash,
                                   reinterpret_cast<unsigned char *>(&block[0]), block.size());
  EXPECT_EQ(block.size(), written);
  return block;
}

DataCheckResult Decode(const std::string &block, int32_t count, std::vector<uint64_t> *hashes = nullptr) {
  std::vector<uint64_t> local(static_cast<size_t>(count > 0 ? count : 0));
  std::vector<uint64_t> &out = hashes ? *hashes : local;
  out.assign(local.size(), 0);
  return DecodeDataCheck(Bytes(block), block.size(), count, out.data());
}

TEST(Hash, IsXxh3SixtyFourWithSeedZero) {
  // The published XXH3-64 values of "" and "abc".
  EXPECT_EQ(0x2D06800538D394C2ull, Hash(""));
  EXPECT_EQ(0x78AF5F94892F3950ull, Hash("abc"));
}

TEST(Hash, PiecesGiveTheDigestOfTheWhole) {
  std::string data(1024 * 1024 + 1, '\0');
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(i * 31 + i / 251);
  // Cuts below, at and above XXH3's 240-byte short input and 256-byte buffer.
  for (size_t piece : {size_t{1}, size_t{240}, size_t{241}, size_t{256}, size_t{4096}, data.size()}) {
    DataHasher hasher;
    InitDataHasher(&hasher);
    for (size_t at = 0; at < data.size(); at += piece)
      UpdateDataHasher(&hasher, data.data() + at, std::min(piece, data.size() - at));
    EXPECT_EQ(Hash(data), DataHasherDigest(&hasher)) << piece;
  }
  DataHasher empty;
  InitDataHasher(&empty);
  UpdateDataHasher(&empty, nullptr, 0);
  EXPECT_EQ(Hash(""), DataHasherDigest(&empty));
}

// A block as the builder of an older version wrote it: no directory hash.
std::string EncodeVersionOne(const std::vector<uint64_t> &hashes) {
  std::string body = std::string("UDCK") + Le32(1) + Le32(static_cast<uint32_t>(hashes.size()));
  for (uint64_t hash : hashes)
    body += Le64(hash);
  return body + Le64(Hash(body));
}

TEST(DataCheck, WritesTheLayoutAndRoundTrips) {
  std::string block = Encode({Hash("abc"), 0, ~0ull}, 0x1122334455667788ull);
  ASSERT_EQ(28u + 8 * 3, block.size());
  std::string body =
      std::string("UDCK") + Le32(2) + Le32(3) + Le64(Hash("abc")) + Le64(0) + Le64(~0ull) + Le64(0x1122334455667788ull);
  EXPECT_EQ(body + Le64(Hash(body)), block);
  std::vector<uint64_t> hashes;
  DataCheckContents contents;
  ASSERT_EQ(kDataCheckValid, DecodeDataCheck(Bytes(block), block.size(), 3, nullptr, &contents));
  EXPECT_TRUE(contents.covers_directory);
  EXPECT_EQ(0x1122334455667788ull, contents.directory_hash);
  ASSERT_EQ(kDataCheckValid, Decode(block, 3, &hashes));
  EXPECT_EQ((std::vector<uint64_t>{Hash("abc"), 0, ~0ull}), hashes);
  // An older block is still read, and says it does not cover the directory.
  std::string old = EncodeVersionOne({Hash("abc")});
  ASSERT_EQ(kDataCheckValid, DecodeDataCheck(Bytes(old), old.size(), 1, nullptr, &contents));
  EXPECT_FALSE(contents.covers_directory);
}

TEST(DataCheck, SizesAndTheLengthsThatMakeABlock) {
  EXPECT_EQ(36u, DataCheckBytes(1));
  EXPECT_EQ(28u, DataCheckBytesOfVersion(1, 1));
  EXPECT_EQ(0u, DataCheckBytes(0));
  EXPECT_EQ(0u, DataCheckBytes(-1));
  EXPECT_EQ(0u, DataCheckBytesOfVersion(1, 3));
  if (sizeof(size_t) == 4) {
    EXPECT_EQ(0u, DataCheckBytes(INT32_MAX));
  }
  uint64_t hash = 1;
  unsigned char out[36];
  EXPECT_EQ(0u, EncodeDataCheck(&hash, 1, 0, out, sizeof out - 1));
  EXPECT_EQ(36u, EncodeDataCheck(&hash, 1, 0, out, sizeof out));
  const struct {
    uint64_t gap;
    int32_t count;
    uint32_t version;
  } lengths[] = {{44, 2, 2}, {36, 2, 1}, {43, 2, 0}, {45, 2, 0}, {0, 2, 0}, {36, 0, 0}, {36, 1, 2}, {28, 1, 1}};
  for (const auto &l : lengths)
    EXPECT_EQ(l.version, DataCheckVersionOfLength(l.gap, l.count)) << l.gap << " " << l.count;
}

std::string Flipped(std::string bytes, size_t at) {
  bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
  return bytes;
}

TEST(DataCheck, EachMalformedKindIsRefused) {
  const std::string good = Encode({Hash("a"), Hash("bc")});
  std::string rest = good.substr(8);
  struct Case {
    const char *what;
    std::string bytes;
    int32_t count;
    DataCheckResult expected;
  } cases[] = {
      {"one bit of the magic", Flipped(good, 0), 2, kDataCheckBadMagic},
      {"version 1 at the length of 2", std::string("UDCK") + Le32(1) + rest, 2, kDataCheckWrongVersion},
      {"version 0", std::string("UDCK") + Le32(0) + rest, 2, kDataCheckWrongVersion},
      {"count 3 in a block of 2", std::string("UDCK") + Le32(2) + Le32(3) + good.substr(12), 2, kDataCheckWrongCount},
      {"count 2, trailer 4", good, 4, kDataCheckWrongLength},
      // As long as an older block for 3: read as one, its version is wrong.
      {"count 2, trailer 3", good, 3, kDataCheckWrongVersion},
      {"one byte short", good.substr(0, good.size() - 1), 2, kDataCheckWrongLength},
      {"a hash damaged", Flipped(good, 12), 2, kDataCheckBadSelfHash},
      {"the directory hash damaged", Flipped(good, good.size() - 9), 2, kDataCheckBadSelfHash},
      {"the self hash damaged", Flipped(good, good.size() - 1), 2, kDataCheckBadSelfHash},
  };
  for (const Case &c : cases) {
    DataCheckResult result = Decode(c.bytes, c.count);
    EXPECT_EQ(c.expected, result) << c.what;
    EXPECT_TRUE(IsDataCheckMalformed(result)) << c.what;
  }
  EXPECT_EQ(kDataCheckValid, Decode(good, 2));
}

// A package file held in memory, as the reader sees it.
size_t ReadFromString(void *context, uint64_t offset, unsigned char *dest, size_t want) {
  const std::string *bytes = static_cast<const std::string *>(context);
  if (offset >= bytes->size())
    return 0;
  size_t take = std::min<uint64_t>(want, bytes->size() - offset);
  std::memcpy(dest, bytes->data() + offset, take);
  return take;
}

struct ReadResult {
  PackageError error;
  int32_t count;
  int32_t bad_entry;
  bool has_hashes;
  std::vector<uint64_t> hashes;
};

ReadResult Read(const std::string &package) {
  PackageSource source{ReadFromString, const_cast<std::string *>(&package), package.size()};
  ArchiveEntry *entries = nullptr;
  uint64_t *hashes = nullptr;
  ReadResult result{kPackageOk, 0, -2, false, {}};
  result.error = ReadPackageDirectory(source, &entries, &result.count, &result.bad_entry, &hashes);
  result.has_hashes = hashes != nullptr;
  if (hashes)
    result.hashes.assign(hashes, hashes + result.count);
  std::free(entries);
  std::free(hashes);
  return result;
}

const std::vector<PackageItem> kItems = {{"readme.txt", "hello"}, {"data\\a.bin", ""}, {"data\\b.bin", "bbbb"}};

TEST(ReadPackageDirectory, HandsOutTheHashesOfAPackageWithADataCheck) {
  ReadResult result = Read(PackageBytesWithDataCheck(kItems));
  ASSERT_EQ(kPackageOk, result.error);
  ASSERT_TRUE(result.has_hashes);
  EXPECT_EQ((std::vector<uint64_t>{Hash("hello"), Hash(""), Hash("bbbb")}), result.hashes);
}

// Bytes ending in a header every 16 bytes that each give the length to the
// end, none holding its self hash: checking each would take time that grows
// with the square of their length.
std::string HeadersOfNoBlock(size_t length) {
  std::string bytes(length, 'q');
  for (size_t at = length - 36, count = 1; at < length; at -= 16, count += 2)
    bytes.replace(at, 12, "UDCK" + Le32(2) + Le32(static_cast<uint32_t>(count)));
  return bytes;
}

TEST(ReadPackageDirectory, APackageWithoutADataCheckLoadsAsBefore) {
  std::string block = DataCheckBlock(kItems);
  // Bytes after the directory that form no valid block are none, whatever
  // they begin with.
  for (const std::string &gap :
       {std::string(), std::string("junk"), std::string(3, 'U'), std::string(100, '\xFF'), std::string("UDCK"),
        std::string("UDCK") + std::string(60, 'x'), block.substr(0, block.size() - 1), block + "x",
        "junk" + Flipped(block, 20), "UDCK" + Le32(2) + Le32(1) + std::string(24, 'x'), HeadersOfNoBlock(4 << 20)}) {
    ReadResult result = Read(PackageBytes(kItems, gap));
    EXPECT_EQ(kPackageOk, result.error) << gap.size();
    EXPECT_EQ(3, result.count);
    EXPECT_FALSE(result.has_hashes);
  }
  // Nor are bytes of a block's length that hold an entry's data.
  std::string directory = DirectoryBytes({{"a.txt", "12345678"}});
  std::string lying_after(DataCheckBytes(1), 'U');
  std::string package = "12345678" + directory + lying_after + Trailer(8, 1);
  // Point the entry's data into the gap: offset low half at the record's end.
  uint64_t gap_start = 8 + directory.size();
  package.replace(8 + directory.size() - 4, 4, Le32(static_cast<uint32_t>(gap_start)));
  ReadResult inside = Read(package);
  EXPECT_EQ(kPackageOk, inside.error);
  EXPECT_FALSE(inside.has_hashes);
  // Callers that want no hashes read every package as they did.
  std::string checked = PackageBytesWithDataCheck(kItems);
  PackageSource source{ReadFromString, &checked, checked.size()};
  ArchiveEntry *entries = nullptr;
  int32_t count = 0, bad_entry = -2;
  ASSERT_EQ(kPackageOk, ReadPackageDirectory(source, &entries, &count, &bad_entry));
  EXPECT_EQ(3, count);
  std::free(entries);
}

TEST(ReadPackageDirectory, AnOlderBlockChecksTheDataAlone) {
  std::vector<uint64_t> hashes = {Hash("hello"), Hash(""), Hash("bbbb")};
  ReadResult result = Read(PackageBytes(kItems, EncodeVersionOne(hashes)));
  ASSERT_EQ(kPackageOk, result.error);
  EXPECT_EQ(hashes, result.hashes);
}

// The package with its directory edited after the block was made.
std::string WithDirectoryEdit(const std::vector<PackageItem> &items, const std::vector<PackageItem> &shown) {
  std::string package = PackageBytesWithDataCheck(items);
  std::string directory = DirectoryBytes(items);
  size_t at = package.find(directory);
  return package.replace(at, directory.size(), DirectoryBytes(shown));
}

// The package with one byte lowered by one: at the trailer's count (from the
// end, negative), or at the directory's first name length (0).
std::string LoweredByte(std::string package, int where) {
  size_t at = where < 0 ? package.size() + where : package.find(DirectoryBytes(kItems));
  package[at] = static_cast<char>(package[at] - 1);
  return package;
}

// The package with its last name length raised by one: the directory then
// ends inside the block.
std::string LastNameLengthRaised(std::string package) {
  size_t at = package.find(DirectoryBytes(kItems)) + DirectoryBytes({kItems[0], kItems[1]}).size();
  package[at] = static_cast<char>(package[at] + 1);
  return package;
}

TEST(ReadPackageDirectory, AMalformedDataCheckRefusesThePackage) {
  std::string block = DataCheckBlock(kItems);
  std::vector<PackageItem> two(kItems.begin(), kItems.begin() + 2);
  std::vector<PackageItem> renamed = kItems, swapped = kItems;
  renamed[0].name = "readme.txu";
  std::swap(swapped[0].name, swapped[2].name);
  std::swap(swapped[0].data, swapped[2].data);
  struct Case {
    const char *what;
    std::string package;
  } cases[] = {
      {"damaged block", PackageBytes(kItems, Flipped(block, 20))},
      {"one bit of the magic", PackageBytes(kItems, Flipped(block, 3))},
      {"block of another count", PackageBytes(kItems, DataCheckBlock(two))},
      {"unknown version", PackageBytes(kItems, "UDCK" + Le32(7) + block.substr(8))},
      {"a name changed", WithDirectoryEdit(kItems, renamed)},
      {"two names swapped", WithDirectoryEdit(kItems, swapped)},
      {"the trailer's count lowered by one", LoweredByte(PackageBytesWithDataCheck(kItems), -4)},
      {"a name's length lowered by one", LoweredByte(PackageBytesWithDataCheck(kItems), 0)},
      {"the last name's length raised by one", LastNameLengthRaised(PackageBytesWithDataCheck(kItems))},
      {"a byte before an older block",
       PackageBytes(kItems, "x" + EncodeVersionOne({Hash("hello"), Hash(""), Hash("bbbb")}))},
  };
  for (const Case &c : cases) {
    ReadResult result = Read(c.package);
    EXPECT_EQ(kPackageBadDataCheck, result.error) << c.what;
    EXPECT_EQ(-1, result.bad_entry) << c.what;
    EXPECT_FALSE(result.has_hashes) << c.what;
  }
  // Refused also for a caller that asks for no hashes.
  std::string package = cases[0].package;
  PackageSource source{ReadFromString, &package, package.size()};
  ArchiveEntry *entries = nullptr;
  int32_t count = 0, bad_entry = -2;
  EXPECT_EQ(kPackageBadDataCheck, ReadPackageDirectory(source, &entries, &count, &bad_entry));
  EXPECT_EQ(nullptr, entries);
}

TEST(ReadPackageDirectory, ADirectoryFaultIsReportedBeforeTheDataCheck) {
  // The data check names no entry; a bad name still does.
  std::vector<PackageItem> items = {{"ok.txt", "1"}, {"..\\x.dll", "2"}};
  ReadResult result = Read(PackageBytesWithDataCheck(items));
  EXPECT_EQ(kPackageUnsafeName, result.error);
  EXPECT_EQ(1, result.bad_entry);
}

} // namespace
