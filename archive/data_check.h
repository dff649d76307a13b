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
// What is a block is told by its place, its length and its own contents,
// never by its first bytes alone: the bytes between the directory and the
// trailer are a block when they are exactly as long as a block of either
// version for the trailer's count and no entry's data lies in them; then any
// damage inside refuses the package, the magic's included. Whatever the
// trailer's count says, a valid block of its own count (magic, version,
// count, the length that count gives and its self hash) that ends at the
// trailer is a block too: one that disagrees with the trailer or the
// directory refuses the package, so that no flipped bit of either turns the
// check off. Bytes that form no valid block are no block.
#pragma once
#include <cstddef>
#include <cstdint>

enum {
  kDataCheckMagicBytes = 4,
  kDataCheckHeaderBytes = 12, // magic, version, count
  kDataCheckHashBytes = 8,
  kDataCheckVersion = 2,            // what the package builder writes
  kDataCheckVersionNoDirectory = 1, // older blocks, still read
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

// Whether a valid block of its own count, of either version, ends exactly
// at the end of the length bytes (a scan from the end; nothing is read
// outside them).
bool EndsInValidDataCheck(const unsigned char *bytes, size_t length);

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
