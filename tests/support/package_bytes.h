// Package bytes made by hand for the tests: entry records, trailers, and a
// whole package from names and contents, including layouts mkupdate never
// writes (malformed ones, blobs out of order or shared).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "archive/package_format.h"

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

// Data of every item in order, then the directory, then the trailer.
inline std::string PackageBytes(const std::vector<PackageItem> &items) {
  std::string data, directory;
  for (const PackageItem &item : items) {
    directory += EntryRecord(item.name, static_cast<uint32_t>(item.data.size()), data.size());
    data += item.data;
  }
  return data + directory + Trailer(data.size(), static_cast<uint32_t>(items.size()));
}
