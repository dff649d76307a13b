// Encoding and validation of the data check block.
#include "archive/data_check.h"

#include <cstring>

#include "archive/hash.h"
#include "archive/package_format.h"

const unsigned char kDataCheckMagic[kDataCheckMagicBytes] = {'U', 'D', 'C', 'K'};

enum { kSelfHashBytes = kDataCheckHashBytes };

bool IsDataCheckMalformed(DataCheckResult result) { return result != kDataCheckAbsent && result != kDataCheckValid; }

const char *DescribeDataCheck(DataCheckResult result) {
  switch (result) {
  case kDataCheckAbsent:
    return "no data check";
  case kDataCheckValid:
    return "data check present";
  case kDataCheckBadMagic:
    return "the data check block is damaged (its magic is wrong)";
  case kDataCheckWrongVersion:
    return "the data check block has an unknown version";
  case kDataCheckWrongCount:
    return "the data check block counts a different number of entries than the trailer";
  case kDataCheckWrongLength:
    return "the data check block does not have the length its count needs";
  case kDataCheckBadSelfHash:
    return "the data check block is damaged (its own hash does not match)";
  }
  return "unknown data check result";
}

// Hashes after the header: one per entry, then the directory's in version 2.
static uint64_t HashesAfterHeader(int32_t count, uint32_t version) {
  return static_cast<uint64_t>(count) + (version == kDataCheckVersion ? 1 : 0);
}

size_t DataCheckBytesOfVersion(int32_t count, uint32_t version) {
  // Kept under half of SIZE_MAX so that callers may add a byte or two.
  const size_t limit = SIZE_MAX / 2;
  if (count <= 0 || (version != kDataCheckVersion && version != kDataCheckVersionNoDirectory))
    return 0;
  uint64_t hashes = HashesAfterHeader(count, version);
  if (hashes > (limit - kDataCheckHeaderBytes - kSelfHashBytes) / kDataCheckHashBytes)
    return 0;
  return kDataCheckHeaderBytes + static_cast<size_t>(hashes) * kDataCheckHashBytes + kSelfHashBytes;
}

size_t DataCheckBytes(int32_t count) { return DataCheckBytesOfVersion(count, kDataCheckVersion); }

uint32_t DataCheckVersionOfLength(uint64_t gap, int32_t count) {
  for (uint32_t version :
       {static_cast<uint32_t>(kDataCheckVersion), static_cast<uint32_t>(kDataCheckVersionNoDirectory)}) {
    size_t bytes = DataCheckBytesOfVersion(count, version);
    if (bytes != 0 && gap == bytes)
      return version;
  }
  return 0;
}

static void WriteLe64(unsigned char *bytes, uint64_t value) {
  WriteLe32(bytes, static_cast<uint32_t>(value));
  WriteLe32(bytes + 4, static_cast<uint32_t>(value >> 32));
}

uint32_t DataCheckVersionOfHeader(const unsigned char *header, uint64_t length) {
  if (std::memcmp(header, kDataCheckMagic, kDataCheckMagicBytes) != 0)
    return 0;
  uint32_t version = ReadLe32(header + 4);
  uint32_t count = ReadLe32(header + 8);
  if (count == 0 || count > INT32_MAX || (version != kDataCheckVersion && version != kDataCheckVersionNoDirectory))
    return 0;
  // In 64 bits: a count near INT32_MAX gives no block in memory on a 32-bit
  // build, but may still give the length of the bytes before the trailer.
  uint64_t hashes = HashesAfterHeader(static_cast<int32_t>(count), version);
  return length == kDataCheckHeaderBytes + hashes * kDataCheckHashBytes + kSelfHashBytes ? version : 0;
}

size_t EncodeDataCheck(const uint64_t *hashes, int32_t count, uint64_t directory_hash, unsigned char *out,
                       size_t capacity) {
  size_t total = DataCheckBytes(count);
  if (total == 0 || total > capacity)
    return 0;
  std::memcpy(out, kDataCheckMagic, kDataCheckMagicBytes);
  WriteLe32(out + 4, kDataCheckVersion);
  WriteLe32(out + 8, static_cast<uint32_t>(count));
  unsigned char *at = out + kDataCheckHeaderBytes;
  for (int32_t n = 0; n < count; ++n, at += kDataCheckHashBytes)
    WriteLe64(at, hashes[n]);
  WriteLe64(at, directory_hash);
  WriteLe64(at + kDataCheckHashBytes, HashBytes(out, total - kSelfHashBytes));
  return total;
}

DataCheckResult DecodeDataCheck(const unsigned char *bytes, size_t length, int32_t count, uint64_t *hashes,
                                DataCheckContents *contents) {
  uint32_t version = DataCheckVersionOfLength(length, count);
  if (version == 0)
    return kDataCheckWrongLength;
  if (std::memcmp(bytes, kDataCheckMagic, kDataCheckMagicBytes) != 0)
    return kDataCheckBadMagic;
  if (ReadLe32(bytes + 4) != version)
    return kDataCheckWrongVersion;
  if (ReadLe32(bytes + 8) != static_cast<uint32_t>(count))
    return kDataCheckWrongCount;
  if (ReadLe64(bytes + length - kSelfHashBytes) != HashBytes(bytes, length - kSelfHashBytes))
    return kDataCheckBadSelfHash;
  const unsigned char *at = bytes + kDataCheckHeaderBytes;
  if (hashes) {
    for (int32_t n = 0; n < count; ++n)
      hashes[n] = ReadLe64(at + static_cast<size_t>(n) * kDataCheckHashBytes);
  }
  if (contents) {
    contents->covers_directory = version == kDataCheckVersion;
    contents->directory_hash =
        contents->covers_directory ? ReadLe64(at + static_cast<size_t>(count) * kDataCheckHashBytes) : 0;
  }
  return kDataCheckValid;
}
