// The data check block: one hash per entry's data, so that a package damaged
// on its way to the player is refused instead of installed. Portable.
//
// It lies between the end of the directory and the trailer, where readers
// that predate it look at nothing. Layout, little-endian:
//   magic      4 bytes "UDCK"
//   version    u32, 1
//   count      u32, the trailer's entry count
//   hashes     count u64: XXH3-64 of each entry's data bytes, directory order
//   self hash  u64: XXH3-64 of every block byte before it
// 20 + 8 * count bytes in all.
#pragma once
#include <cstddef>
#include <cstdint>

enum {
  kDataCheckMagicBytes = 4,
  kDataCheckHeaderBytes = 12, // magic, version, count
  kDataCheckHashBytes = 8,
  kDataCheckVersion = 1,
};

extern const unsigned char kDataCheckMagic[kDataCheckMagicBytes];

enum DataCheckResult {
  kDataCheckAbsent,       // no bytes, or no magic: a package made before the block
  kDataCheckValid,        // the hashes can be trusted to match the publisher's data
  kDataCheckWrongVersion, // the rest are malformed blocks: the package is refused
  kDataCheckWrongCount,   // not the trailer's count
  kDataCheckWrongLength,  // not 20 + 8 * count bytes up to the trailer
  kDataCheckBadSelfHash,  // the block itself was damaged
};

bool IsDataCheckMalformed(DataCheckResult result);

// English description, for the package builder's messages.
const char *DescribeDataCheck(DataCheckResult result);

// Bytes of the block for count entries; 0 when count is not positive or the
// block would not fit in memory.
size_t DataCheckBytes(int32_t count);

// True when the length bytes begin with the magic (fewer than 4 never do).
bool HasDataCheckMagic(const unsigned char *bytes, size_t length);

// Writes the block for count hashes into out (capacity bytes). The bytes
// written, or 0 when they do not fit.
size_t EncodeDataCheck(const uint64_t *hashes, int32_t count, unsigned char *out, size_t capacity);

// Decodes the length bytes found between the end of the directory and the
// trailer; count is the trailer's. On kDataCheckValid, hashes (room for count,
// or nullptr to only validate) gets the entries' hashes.
DataCheckResult DecodeDataCheck(const unsigned char *bytes, size_t length, int32_t count, uint64_t *hashes);
