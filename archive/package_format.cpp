// Decoding and checking of the package trailer, directory, entry names and
// data check block.
#include "archive/package_format.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "archive/data_check.h"
#include "archive/hash.h"
#include "common/cp932.h"
#include "common/file_names.h"
#include "common/owned.h"
#include "common/name_fold.h"
#include "journal/backup_name.h"
#include "journal/run_record_format.h"

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
    return "an entry name is unsafe (absolute, drive, ':', '/', an empty component, one ending in '.' or a space, "
           "or a device name)";
  case kPackageBackupNameClash:
    return "one entry is named as another's backup (\"X\" and \"X" BACKUP_SUFFIX
           "\", compared as Windows compares names)";
  case kPackageReservedName:
    return "an entry at the top level is named " RUN_RECORD_FILE_NAME ", the installer's own run record";
  case kPackageBadDataCheck:
    return "the data check block after the directory is malformed, damaged or unreadable, or a valid one does not "
           "lie where the trailer's count and the directory place it";
  case kPackageNotSigned:
    return "the package is not signed";
  case kPackageSignedByOtherKey:
    return "the package is signed by another key";
  case kPackageBadSignature:
    return "the signature does not verify: the signature block, the directory, the data check block or the "
           "trailer was changed since the package was signed";
  }
  return "unknown error";
}

uint32_t ReadLe32(const unsigned char *bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

uint64_t ReadLe64(const unsigned char *bytes) {
  return static_cast<uint64_t>(ReadLe32(bytes + 4)) << 32 | ReadLe32(bytes);
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

static char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The names Windows opens as devices whatever the folder.
static bool IsDeviceName(const char *text, size_t length) {
  static const char *const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  char upper[8];
  if (length == 0 || length > sizeof upper)
    return false;
  for (size_t i = 0; i < length; ++i)
    upper[i] = AsciiUpper(text[i]);
  for (const char *device : kDevices) {
    if (std::strlen(device) == length && std::memcmp(upper, device, length) == 0)
      return true;
  }
  return length == 4 && (std::memcmp(upper, "COM", 3) == 0 || std::memcmp(upper, "LPT", 3) == 0) && upper[3] >= '1' &&
         upper[3] <= '9';
}

// A component Windows would not keep as written: empty, ending in a dot or a
// space (trimmed away, so "." and ".." are here too), or a device name. The
// last byte can't be a trail byte: neither '.' nor ' ' is one.
static bool IsUnsafeComponent(const char *component, size_t length) {
  if (length == 0 || component[length - 1] == '.' || component[length - 1] == ' ')
    return true;
  const void *dot = std::memchr(component, '.', length);
  size_t stem = dot ? static_cast<size_t>(static_cast<const char *>(dot) - component) : length;
  while (stem > 0 && component[stem - 1] == ' ')
    --stem;
  return IsDeviceName(component, stem);
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
      if (IsUnsafeComponent(name + component_start, i - component_start))
        return false;
      component_start = i + 1;
    }
  }
  return !IsUnsafeComponent(name + component_start, length - component_start);
}

PackageError CheckBackupNameClashes(const char *const *names, int32_t count, int32_t *bad_entry) {
  const std::string record = FoldNameCase(kRunRecordFileName);
  const std::string suffix = FoldNameCase(kBackupSuffix);
  std::vector<std::pair<std::string, int32_t>> folded;
  folded.reserve(static_cast<size_t>(count));
  for (int32_t n = 0; n < count; ++n) {
    folded.emplace_back(FoldNameCase(names[n]), n);
    if (folded.back().first == record) {
      *bad_entry = n;
      return kPackageReservedName;
    }
  }
  std::sort(folded.begin(), folded.end());
  for (int32_t n = 0; n < count; ++n) {
    std::pair<std::string, int32_t> backup(FoldNameCase(names[n]) + suffix, -1);
    auto found = std::lower_bound(folded.begin(), folded.end(), backup);
    if (found != folded.end() && found->first == backup.first) {
      *bad_entry = std::max(n, found->second);
      return kPackageBackupNameClash;
    }
  }
  return kPackageOk;
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

size_t EncodeEntry(const char *name, size_t name_length, uint32_t size, uint64_t offset,
                   unsigned char out[kMaxEntryBytes]) {
  if (name_length > kMaxNameBytes)
    return 0;
  out[0] = static_cast<unsigned char>(name_length);
  std::memcpy(out + 1, name, name_length);
  unsigned char *numbers = out + 1 + name_length;
  WriteLe32(numbers, size);
  WriteLe32(numbers + 4, static_cast<uint32_t>(offset >> 32));
  WriteLe32(numbers + 8, static_cast<uint32_t>(offset));
  return 1 + name_length + kEntryNumberBytes;
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

static PackageError CheckEntryNamePairs(const ArchiveEntry *entries, int32_t count, int32_t *bad_entry) {
  std::vector<const char *> names(static_cast<size_t>(count));
  for (int32_t n = 0; n < count; ++n)
    names[static_cast<size_t>(n)] = entries[n].name;
  return CheckBackupNameClashes(names.data(), count, bad_entry);
}

// The directory is read front to back: a cursor over the source.
struct SourceCursor {
  const PackageSource *source;
  uint64_t offset;
};

static size_t FillFromSource(void *context, unsigned char *dest, size_t want) {
  SourceCursor *cursor = static_cast<SourceCursor *>(context);
  size_t got = cursor->source->read_at(cursor->source->context, cursor->offset, dest, want);
  cursor->offset += got;
  return got;
}

// The bytes the stream holds or may still deliver: after the directory, those
// up to the trailer.
static uint64_t BytesLeftInStream(const ByteStream &stream) {
  return stream.remaining + (stream.length - stream.position);
}

// True when some entry's data lies in [start, end).
static bool AnyEntryDataIn(const ArchiveEntry *entries, int32_t count, uint64_t start, uint64_t end) {
  for (int32_t n = 0; n < count; ++n) {
    uint64_t offset = EntryDataOffset(entries[n]);
    if (entries[n].size > 0 && offset < end && offset + entries[n].size > start)
      return true;
  }
  return false;
}

// XXH3-64 of length bytes of the source from offset, read through buffer.
static bool HashSourceBytes(const PackageSource &source, uint64_t offset, uint64_t length, unsigned char *buffer,
                            size_t capacity, uint64_t *hash) {
  DataHasher hasher;
  InitDataHasher(&hasher);
  while (length > 0) {
    size_t want = length < capacity ? static_cast<size_t>(length) : capacity;
    if (source.read_at(source.context, offset, buffer, want) != want)
      return false;
    UpdateDataHasher(&hasher, buffer, want);
    offset += want;
    length -= want;
  }
  *hash = DataHasherDigest(&hasher);
  return true;
}

// Where the directory lies and what follows it, up to the trailer.
struct DirectorySpan {
  uint64_t offset;
  uint64_t length;
  uint64_t gap;
};

// A block ending at the trailer found by its header: where it starts and the
// count it holds.
struct DataCheckCandidate {
  uint64_t start;
  uint32_t count;
};

// Each header that passes costs a read of the bytes after it to check its
// self hash, so only the few nearest the trailer are checked: that keeps the
// work linear. Only bytes made to look like many blocks hold more.
enum { kMostDataCheckCandidates = 4 };

// The first byte a block ending at the trailer could start at: not before the
// directory, and no further from the trailer than a block whose count of
// entries, 13 bytes each at least, fits between the two (c <= bytes / 21).
static uint64_t FirstDataCheckStart(uint64_t directory_offset, uint64_t trailer_position) {
  uint64_t bytes = trailer_position - directory_offset;
  const uint64_t per_entry = uint64_t{kMinEntryBytes} + kDataCheckHashBytes;
  uint64_t longest = kDataCheckShortestBytes + kDataCheckHashBytes * (bytes / per_entry);
  return longest < bytes ? trailer_position - longest : directory_offset;
}

// Finds the headers that make the bytes from them to the trailer a block of
// their own count, reading [first, trailer) once, a buffer's worth at a time
// from the end. Every block length is 28 plus a multiple of 8, so only every
// eighth byte can start one. False when the bytes cannot be read.
static bool FindDataCheckHeaders(const PackageSource &source, uint64_t first, uint64_t trailer_position,
                                 unsigned char *buffer, size_t capacity, DataCheckCandidate *found, int *found_count) {
  *found_count = 0;
  if (trailer_position - first < kDataCheckShortestBytes || capacity < kDataCheckHeaderBytes)
    return true;
  uint64_t nearest = trailer_position - kDataCheckShortestBytes;
  uint64_t starts = (nearest - first) / kDataCheckHashBytes + 1;
  uint64_t per_read = (capacity - kDataCheckHeaderBytes) / kDataCheckHashBytes + 1;
  for (uint64_t done = 0; done < starts && *found_count < kMostDataCheckCandidates;) {
    uint64_t take = std::min(starts - done, per_read);
    uint64_t high = nearest - done * kDataCheckHashBytes;
    uint64_t low = high - (take - 1) * kDataCheckHashBytes;
    size_t want = static_cast<size_t>(high - low) + kDataCheckHeaderBytes;
    if (source.read_at(source.context, low, buffer, want) != want)
      return false;
    for (uint64_t n = 0; n < take && *found_count < kMostDataCheckCandidates; ++n) {
      uint64_t at = high - n * kDataCheckHashBytes;
      const unsigned char *header = buffer + static_cast<size_t>(at - low);
      if (DataCheckVersionOfHeader(header, trailer_position - at) != 0)
        found[(*found_count)++] = DataCheckCandidate{at, ReadLe32(header + 8)};
    }
    done += take;
  }
  return true;
}

// Whether the bytes from start to the trailer end in their own hash: the
// self hash of a block of that length.
static bool HoldsSelfHash(const PackageSource &source, uint64_t start, uint64_t trailer_position, unsigned char *buffer,
                          size_t capacity, bool *holds) {
  unsigned char stored[kDataCheckHashBytes];
  uint64_t hashed_end = trailer_position - kDataCheckHashBytes;
  uint64_t hash = 0;
  if (source.read_at(source.context, hashed_end, stored, sizeof stored) != sizeof stored ||
      !HashSourceBytes(source, start, hashed_end - start, buffer, capacity, &hash))
    return false;
  *holds = hash == ReadLe64(stored);
  return true;
}

// Refuses the package when a valid block of its own count ends at the
// trailer other than where the trailer's count and the directory's length
// place one: a flipped bit in either moves what the reader takes for the
// block, and must not turn the check off. That place itself was judged
// already; a block there is data only when entry data lies in it.
static PackageError RefuseMisplacedDataCheck(const PackageSource &source, const DirectorySpan &span, int32_t count,
                                             unsigned char *buffer, size_t capacity) {
  uint64_t directory_end = span.offset + span.length;
  uint64_t trailer_position = directory_end + span.gap;
  DataCheckCandidate found[kMostDataCheckCandidates];
  int found_count = 0;
  if (!FindDataCheckHeaders(source, FirstDataCheckStart(span.offset, trailer_position), trailer_position, buffer,
                            capacity, found, &found_count))
    return kPackageBadDataCheck;
  for (int n = 0; n < found_count; ++n) {
    if (found[n].start == directory_end && found[n].count == static_cast<uint32_t>(count))
      continue;
    bool holds = false;
    if (!HoldsSelfHash(source, found[n].start, trailer_position, buffer, capacity, &holds) || holds)
      return kPackageBadDataCheck;
  }
  return kPackageOk;
}

// Decodes the bytes after the directory as a data check block when their
// place and length make them one (archive/data_check.h); else refuses a valid
// block that ends at the trailer elsewhere. On success *hashes is a new array
// of count hashes, or nullptr when there is no block.
static PackageError ReadDataCheck(const PackageSource &source, const DirectorySpan &span, ByteStream *stream,
                                  const ArchiveEntry *entries, int32_t count, MallocPtr<uint64_t> *hashes) {
  uint64_t gap_start = span.offset + span.length;
  if (DataCheckVersionOfLength(span.gap, count) == 0 || AnyEntryDataIn(entries, count, gap_start, gap_start + span.gap))
    return RefuseMisplacedDataCheck(source, span, count, stream->buffer, stream->capacity);
  size_t block_bytes = static_cast<size_t>(span.gap);
  MallocPtr<unsigned char> block = MallocArray<unsigned char>(block_bytes);
  MallocPtr<uint64_t> decoded = MallocArray<uint64_t>(static_cast<size_t>(count));
  if (!block || !decoded)
    return kPackageNoMemory;
  DataCheckContents contents;
  if (!TakeBytes(stream, block.get(), block_bytes) ||
      DecodeDataCheck(block.get(), block_bytes, count, decoded.get(), &contents) != kDataCheckValid)
    return kPackageBadDataCheck;
  uint64_t directory_hash = 0;
  if (contents.covers_directory &&
      (!HashSourceBytes(source, span.offset, span.length, stream->buffer, stream->capacity, &directory_hash) ||
       directory_hash != contents.directory_hash))
    return kPackageBadDataCheck;
  *hashes = std::move(decoded);
  return kPackageOk;
}

bool ReadPackageTrailer(const PackageSource &source, PackageTrailer *trailer) {
  unsigned char bytes[kTrailerBytes];
  if (source.file_size < kTrailerBytes ||
      source.read_at(source.context, source.file_size - kTrailerBytes, bytes, kTrailerBytes) != kTrailerBytes)
    return false;
  *trailer = DecodeTrailer(bytes);
  return true;
}

PackageError ReadPackageDirectory(const PackageSource &source, ArchiveEntry **entries_out, int32_t *count_out,
                                  int32_t *bad_entry, uint64_t **hashes_out) {
  *bad_entry = -1;
  if (hashes_out)
    *hashes_out = nullptr;
  PackageTrailer trailer;
  if (!ReadPackageTrailer(source, &trailer))
    return kPackageTooShort;
  uint64_t directory_bytes = 0;
  PackageError error = CheckTrailer(trailer, source.file_size, &directory_bytes);
  if (error != kPackageOk)
    return error;
  MallocPtr<ArchiveEntry> entries =
      MallocArray<ArchiveEntry>(trailer.count > 0 ? static_cast<size_t>(trailer.count) : 0);
  MallocPtr<unsigned char> read_ahead = MallocArray<unsigned char>(kDirectoryReadAheadBytes);
  if (!entries || !read_ahead)
    return kPackageNoMemory;
  SourceCursor cursor{&source, trailer.directory_offset};
  ByteStream stream;
  InitByteStream(&stream, FillFromSource, &cursor, read_ahead.get(), kDirectoryReadAheadBytes, directory_bytes);
  error = DecodeDirectory(&stream, trailer.count, entries.get(), bad_entry);
  if (error != kPackageOk)
    return error;
  uint64_t gap = BytesLeftInStream(stream);
  DirectorySpan span{trailer.directory_offset, directory_bytes - gap, gap};
  MallocPtr<uint64_t> hashes;
  error = ReadDataCheck(source, span, &stream, entries.get(), trailer.count, &hashes);
  if (error == kPackageOk)
    error = CheckEntryNamePairs(entries.get(), trailer.count, bad_entry);
  if (error != kPackageOk)
    return error;
  *entries_out = entries.release();
  *count_out = trailer.count;
  if (hashes_out)
    *hashes_out = hashes.release();
  return kPackageOk;
}
