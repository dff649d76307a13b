// Decoding and checking of the package trailer, directory and entry names.
#include "archive/package_format.h"

#include <cstring>

#include "common/cp932.h"

const char *DescribePackageError(PackageError error) {
  switch (error) {
  case kPackageOk:
    return "ok";
  case kPackageCannotOpen:
    return "the file cannot be opened";
  case kPackageTooShort:
    return "file is shorter than the 12-byte trailer";
  case kPackageEmptyCount:
    return "the trailer counts no entries";
  case kPackageNegativeCount:
    return "the entry count is negative (top bit set)";
  case kPackageDirectoryOutside:
    return "the directory offset lies outside the file";
  case kPackageDirectoryShort:
    return "the directory is shorter than its entry count";
  case kPackageNoMemory:
    return "no memory for the entry directory";
  case kPackageUnsafeName:
    return "an entry name is unsafe (absolute, drive, ':', '/', '.' or '..', or an empty component)";
  }
  return "unknown error";
}

uint32_t ReadLe32(const unsigned char *bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void WriteLe32(unsigned char *bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

PackageTrailer DecodeTrailer(const unsigned char bytes[kTrailerBytes]) {
  PackageTrailer trailer;
  trailer.directory_offset = static_cast<uint64_t>(ReadLe32(bytes)) << 32 | ReadLe32(bytes + 4);
  trailer.count = static_cast<int32_t>(ReadLe32(bytes + 8));
  return trailer;
}

void EncodeTrailer(const PackageTrailer &trailer, unsigned char bytes[kTrailerBytes]) {
  WriteLe32(bytes, static_cast<uint32_t>(trailer.directory_offset >> 32));
  WriteLe32(bytes + 4, static_cast<uint32_t>(trailer.directory_offset));
  WriteLe32(bytes + 8, static_cast<uint32_t>(trailer.count));
}

PackageError CheckTrailer(const PackageTrailer &trailer, uint64_t file_size, uint64_t *directory_bytes) {
  if (file_size < kTrailerBytes)
    return kPackageTooShort;
  if (trailer.count == 0)
    return kPackageEmptyCount;
  if (trailer.count < 0)
    return kPackageNegativeCount;
  uint64_t directory_end = file_size - kTrailerBytes;
  if (trailer.directory_offset > directory_end)
    return kPackageDirectoryOutside;
  uint64_t available = directory_end - trailer.directory_offset;
  // Even entries with empty names need 13 bytes each: refuse a count that
  // cannot fit before allocating room for it.
  if (available / kMinEntryBytes < static_cast<uint64_t>(trailer.count))
    return kPackageDirectoryShort;
  *directory_bytes = available;
  return kPackageOk;
}

static bool IsDotsAndSpacesOnly(const char *component, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (component[i] != '.' && component[i] != ' ')
      return false;
  }
  return true;
}

bool IsSafeEntryName(const char *name, size_t length) {
  if (length == 0)
    return true;
  size_t component_start = 0;
  for (size_t i = 0; i < length; ++i) {
    unsigned char byte = static_cast<unsigned char>(name[i]);
    if (IsLeadByte932(byte)) {
      // A name may not end inside a double-byte character, nor pair a lead
      // byte with a byte that cannot follow it (a ':' there stays a ':').
      if (i + 1 >= length || !IsTrailByte932(static_cast<unsigned char>(name[i + 1])))
        return false;
      ++i; // the trail byte may be 0x5C without being a separator
      continue;
    }
    if (byte == 0 || byte == ':' || byte == '/')
      return false;
    if (byte == '\\') {
      size_t component_length = i - component_start;
      if (component_length == 0 || IsDotsAndSpacesOnly(name + component_start, component_length))
        return false;
      component_start = i + 1;
    }
  }
  size_t last_length = length - component_start;
  return last_length > 0 && !IsDotsAndSpacesOnly(name + component_start, last_length);
}

void InitByteStream(ByteStream *stream, size_t (*fill)(void *, unsigned char *, size_t), void *context,
                    unsigned char *buffer, size_t capacity, uint64_t limit) {
  stream->fill = fill;
  stream->context = context;
  stream->buffer = buffer;
  stream->capacity = capacity;
  stream->position = 0;
  stream->length = 0;
  stream->remaining = limit;
}

// Copies want bytes from the stream; false when it ends first.
static bool TakeBytes(ByteStream *stream, unsigned char *dest, size_t want) {
  while (want > 0) {
    if (stream->position == stream->length) {
      size_t ask = stream->capacity;
      if (ask > stream->remaining)
        ask = static_cast<size_t>(stream->remaining);
      if (ask == 0)
        return false;
      size_t got = stream->fill(stream->context, stream->buffer, ask);
      if (got == 0 || got > ask)
        return false;
      stream->remaining -= got;
      stream->position = 0;
      stream->length = got;
    }
    size_t take = stream->length - stream->position;
    if (take > want)
      take = want;
    std::memcpy(dest, stream->buffer + stream->position, take);
    stream->position += take;
    dest += take;
    want -= take;
  }
  return true;
}

PackageError DecodeDirectory(ByteStream *stream, int32_t count, ArchiveEntry *entries, int32_t *bad_entry) {
  for (int32_t n = 0; n < count; ++n) {
    *bad_entry = n;
    ArchiveEntry &entry = entries[n];
    unsigned char length = 0;
    unsigned char numbers[12];
    if (!TakeBytes(stream, &length, 1) || !TakeBytes(stream, reinterpret_cast<unsigned char *>(entry.name), length) ||
        !TakeBytes(stream, numbers, sizeof numbers))
      return kPackageDirectoryShort;
    entry.name[length] = '\0';
    if (!IsSafeEntryName(entry.name, length))
      return kPackageUnsafeName;
    entry.size = ReadLe32(numbers);
    entry.offset_high = ReadLe32(numbers + 4);
    entry.offset_low = ReadLe32(numbers + 8);
  }
  *bad_entry = -1;
  return kPackageOk;
}

size_t DirectoryArrayBytes(int32_t count) {
  if (count <= 0 || static_cast<uint64_t>(count) > SIZE_MAX / sizeof(ArchiveEntry))
    return 0;
  return static_cast<size_t>(count) * sizeof(ArchiveEntry);
}

uint64_t EntryDataOffset(const ArchiveEntry &entry) {
  return static_cast<uint64_t>(entry.offset_high) << 32 | entry.offset_low;
}

int64_t PackageSizeFigure(uint64_t file_size) { return file_size < 4 ? -1 : static_cast<int64_t>(file_size - 4); }

int64_t SizeFigureKiB(int64_t size_figure) { return size_figure / 1024; }
