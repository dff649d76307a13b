// Package bytes made by hand for the tests: entry records, trailers, and a
// whole package from names and contents, including layouts mkupdate never
// writes (malformed ones, blobs out of order or shared).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

inline std::string Le32(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i)
    bytes[i] = static_cast<char>(value >> (8 * i));
  return bytes;
}

// One directory record: name length, name, size, offset high and low halves.
inline std::string EntryRecord(const std::string &name, uint32_t size, uint64_t offset) {
  return std::string(1, static_cast<char>(name.size())) + name + Le32(size) +
         Le32(static_cast<uint32_t>(offset >> 32)) + Le32(static_cast<uint32_t>(offset));
}

inline std::string Trailer(uint64_t directory_offset, uint32_t count) {
  return Le32(static_cast<uint32_t>(directory_offset >> 32)) + Le32(static_cast<uint32_t>(directory_offset)) +
         Le32(count);
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
