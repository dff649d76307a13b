// The data check block: one hash per entry's data and one over the
// directory, so that a package damaged on its way to the player is refused
// instead of installed. Portable.
//
// It lies between the end of the directory and the trailer, where readers
// that predate it look at nothing. Layout, little-endian:
//   magic           4 bytes "UDCK"
//   version         u32, 2 (1: a block without the directory hash)
//   count           u32, the trailer's entry count
//   hashes          count u64: XXH3-64 of each entry's data bytes, directory order
//   directory hash  u64: XXH3-64 of the directory's bytes (version 2 only)
//   self hash       u64: XXH3-64 of every block byte before it
// 28 + 8 * count bytes in all (20 + 8 * count for version 1).
//
// What is a block is told by its place and its own contents, never by its
// first bytes alone. The bytes between the directory and the trailer are a
// block when they are exactly as long as a block of either version for the
// trailer's count and no entry's data lies in them; then any damage inside
// refuses the package, the magic's included. Whatever the trailer's count
// says, bytes ending right before the trailer (and starting no earlier than
// the directory) whose magic, version and count give their own length and
// whose self hash holds are a block too; such a block that the trailer's
// count and the directory do not place there (its count is not the
// trailer's, or it does not start where the directory ends) refuses the
// package, so that no flipped bit of either turns the check off. Bytes that
// form no valid block are no block: data of another tool.
#pragma once
#include <cstddef>
#include <cstdint>

enum {
  kDataCheckMagicBytes = 4,
  kDataCheckHeaderBytes = 12, // magic, version, count
  kDataCheckHashBytes = 8,
  kDataCheckVersion = 2,            // what the package builder writes
  kDataCheckVersionNoDirectory = 1, // older blocks, still read
  kDataCheckShortestBytes = 28,     // version 1 for one entry
};

extern const unsigned char kDataCheckMagic[kDataCheckMagicBytes];

enum DataCheckResult {
  kDataCheckAbsent,       // no block: a package made before the block
  kDataCheckValid,        // the hashes can be trusted to match the publisher's data
  kDataCheckBadMagic,     // the rest are malformed blocks: the package is refused
  kDataCheckWrongVersion, // not the version its length says
  kDataCheckWrongCount,   // not the trailer's count
  kDataCheckWrongLength,  // not the length of a block of its count
  kDataCheckBadSelfHash,  // the block itself was damaged
};

bool IsDataCheckMalformed(DataCheckResult result);

// English description, for the package builder's messages.
const char *DescribeDataCheck(DataCheckResult result);

// Bytes of a block of that version for count entries; 0 when count is not
// positive, the version unknown, or the block would not fit in memory.
size_t DataCheckBytesOfVersion(int32_t count, uint32_t version);
// Bytes of the block the package builder writes.
size_t DataCheckBytes(int32_t count);

// The version of block that gap bytes between the directory and the trailer
// would be for count entries, judged by length alone; 0 when neither.
uint32_t DataCheckVersionOfLength(uint64_t gap, int32_t count);

// The version of the block that length bytes beginning with header
// (kDataCheckHeaderBytes) are by their own magic, version and count: 0 when
// the header does not make them a block of that length. Their self hash is
// not looked at.
uint32_t DataCheckVersionOfHeader(const unsigned char *header, uint64_t length);

// Writes the current block for count data hashes and the directory's hash
// into out (capacity bytes). The bytes written, or 0 when they do not fit.
size_t EncodeDataCheck(const uint64_t *hashes, int32_t count, uint64_t directory_hash, unsigned char *out,
                       size_t capacity);

// What a valid block holds besides the data hashes.
struct DataCheckContents {
  bool covers_directory = false; // version 2
  uint64_t directory_hash = 0;
};

// Decodes length bytes that lie where a block goes and are as long as one
// (see DataCheckVersionOfLength); count is the trailer's. On kDataCheckValid,
// hashes (room for count, or nullptr to only validate) gets the entries'
// hashes and contents (or nullptr) the directory's.
DataCheckResult DecodeDataCheck(const unsigned char *bytes, size_t length, int32_t count, uint64_t *hashes,
                                DataCheckContents *contents = nullptr);
