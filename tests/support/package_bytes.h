// Package bytes made by hand for the tests: entry records, trailers, data
// check blocks, and a whole package from names and contents, including
// layouts mkupdate never writes (malformed ones, blobs out of order or
// shared).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "archive/data_check.h"
#include "archive/hash.h"
#include "archive/package_format.h"
#include "archive/sha256.h"
#include "tools/mkupdate/package_builder.h"

inline std::string Le32(uint32_t value) {
  unsigned char bytes[4];
  WriteLe32(bytes, value);
  return std::string(reinterpret_cast<const char *>(bytes), 4);
}

// One directory record: name length, name, size, offset high and low halves.
// A name over 255 bytes gets its length byte cut, as no writer would.
inline std::string EntryRecord(const std::string &name, uint32_t size, uint64_t offset) {
  unsigned char record[kMaxEntryBytes];
  if (name.size() > kMaxNameBytes)
    return std::string(1, static_cast<char>(name.size())) + name + EntryRecord("", size, offset).substr(1);
  size_t length = EncodeEntry(name.data(), name.size(), size, offset, record);
  return std::string(reinterpret_cast<const char *>(record), length);
}

inline std::string Trailer(uint64_t directory_offset, uint32_t count) {
  unsigned char bytes[kTrailerBytes];
  EncodeTrailer(PackageTrailer{directory_offset, static_cast<int32_t>(count)}, bytes);
  return std::string(reinterpret_cast<const char *>(bytes), kTrailerBytes);
}

struct PackageItem {
  std::string name; // code page 932, '\' separators
  std::string data;
};

// The directory of the items, their data laid out in order from offset 0.
inline std::string DirectoryBytes(const std::vector<PackageItem> &items) {
  std::string directory;
  uint64_t offset = 0;
  for (const PackageItem &item : items) {
    directory += EntryRecord(item.name, static_cast<uint32_t>(item.data.size()), offset);
    offset += item.data.size();
  }
  return directory;
}

// Data of every item in order, then the directory, then after_directory
// (where a data check block goes), then the trailer.
inline std::string PackageBytes(const std::vector<PackageItem> &items, const std::string &after_directory = "") {
  std::string data;
  for (const PackageItem &item : items)
    data += item.data;
  return data + DirectoryBytes(items) + after_directory + Trailer(data.size(), static_cast<uint32_t>(items.size()));
}

// The data check block for the items' data and directory, as mkupdate
// writes it.
inline std::string DataCheckBlock(const std::vector<PackageItem> &items) {
  std::vector<uint64_t> hashes;
  for (const PackageItem &item : items)
    hashes.push_back(HashBytes(item.data.data(), item.data.size()));
  std::string directory = DirectoryBytes(items);
  std::string block(DataCheckBytes(static_cast<int32_t>(items.size())), '\0');
  EncodeDataCheck(hashes.data(), static_cast<int32_t>(hashes.size()), HashBytes(directory.data(), directory.size()),
                  reinterpret_cast<unsigned char *>(&block[0]), block.size());
  return block;
}

// A package as mkupdate writes it: with its data check block.
inline std::string PackageBytesWithDataCheck(const std::vector<PackageItem> &items) {
  return PackageBytes(items, DataCheckBlock(items));
}

// A package signed with key, its signature block between the data and the
// directory; without data_check, a layout mkupdate never writes: its data is
// then checked by the signed hashes alone.
inline std::string SignedPackageBytes(const std::vector<PackageItem> &items, const SigningKey &key,
                                      bool data_check = true) {
  std::string data;
  std::vector<unsigned char> hashes;
  for (const PackageItem &item : items) {
    data += item.data;
    hashes.resize(hashes.size() + kSha256DigestBytes);
    HashSha256(reinterpret_cast<const unsigned char *>(item.data.data()), item.data.size(),
               &hashes[hashes.size() - kSha256DigestBytes]);
  }
  uint32_t count = static_cast<uint32_t>(items.size());
  std::string block, error;
  std::string tail = DirectoryBytes(items) + (data_check ? DataCheckBlock(items) : "") +
                     Trailer(data.size() + SignatureBlockBytes(static_cast<int32_t>(count)), count);
  if (!SignPackageTail(hashes, tail, key, &block, &error))
    return "";
  return data + block + tail;
}
