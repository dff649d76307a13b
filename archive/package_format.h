// The byte layout of an update package and the rules a package must meet
// before the program trusts it. Portable: used by update.exe, mkupdate and
// the native tests alike.
//
// Layout: file data anywhere; the directory (count entries back to back);
// then a 12-byte trailer: directory offset high half, low half, count.
// Every integer is 32-bit little-endian. An entry: name length L (1 byte),
// L name bytes (code page 932, '\' separators), size, offset high, offset low.
// Between the directory's end and the trailer a package may carry a data
// check block (archive/data_check.h); readers skip anything else there.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/limits.h"

enum {
  kEntryNameBytes = kPathBytes, // in-memory name buffer
  kTrailerBytes = 12,
  kMaxNameBytes = 255,
  kEntryNumberBytes = 12,                          // size, offset high, offset low
  kMinEntryBytes = 1 + kEntryNumberBytes,          // an entry with an empty name
  kMaxEntryBytes = kMinEntryBytes + kMaxNameBytes, // an entry with a 255-byte name
  kDirectoryReadAheadBytes = 256 * 1024,
};

struct ArchiveEntry {
  char name[kEntryNameBytes];
  uint32_t size;
  uint32_t offset_high;
  uint32_t offset_low;
};

struct PackageTrailer {
  uint64_t directory_offset;
  int32_t count;
};

enum PackageError {
  kPackageOk = 0,
  kPackageCannotOpen,       // missing or unreadable
  kPackageTooShort,         // shorter than the trailer
  kPackageEmptyCount,       // the trailer counts no entry
  kPackageNegativeCount,    // top bit of the count set
  kPackageDirectoryOutside, // directory offset past the data before the trailer
  kPackageDirectoryShort,   // the directory ends before its count of entries
  kPackageNoMemory,         // no room for the entry array
  kPackageUnsafeName,       // an entry name that could leave the destination
  kPackageBackupNameClash,  // one entry is named as another's backup ("X" and "X_old")
  kPackageReservedName,     // a top-level entry named as the run record, "update.run"
  kPackageBadDataCheck,     // a data check block that is malformed, damaged or unreadable
  // Refused only by a program that carries the publisher's key:
  kPackageNotSigned,        // no signature block
  kPackageSignedByOtherKey, // signed, by another key
  kPackageBadSignature,     // a damaged block, or a signature that does not verify
};

// English description of an error, for the package builder's messages.
const char *DescribePackageError(PackageError error);

uint32_t ReadLe32(const unsigned char *bytes);
uint64_t ReadLe64(const unsigned char *bytes);
void WriteLe32(unsigned char *bytes, uint32_t value);

PackageTrailer DecodeTrailer(const unsigned char bytes[kTrailerBytes]);
void EncodeTrailer(const PackageTrailer &trailer, unsigned char bytes[kTrailerBytes]);

// Checks the trailer against the file size. On success *directory_bytes is
// the number of bytes between the directory offset and the trailer: the
// directory must fit in them.
PackageError CheckTrailer(const PackageTrailer &trailer, uint64_t file_size, uint64_t *directory_bytes);

// A name is safe when it stays inside the destination and names one file of
// its own: not absolute (no leading '\' or '/', no drive), no ':' or '/'
// anywhere, no zero byte, no empty component, no component that ends in a dot
// or a space (Windows drops those, so two names would meet; "." and ".." are
// among them), and no component that is a device name (CON, PRN, AUX, NUL,
// COM1-COM9, LPT1-LPT9, CONIN$, CONOUT$ in any case, before its first dot,
// trailing spaces dropped). A whole name of length 0 is let through: the
// extraction pass reports it. Separators are found as code page 932 requires;
// a name may not end inside a double-byte character, and a lead byte must be
// followed by a valid trail byte.
bool IsSafeEntryName(const char *name, size_t length);

// Finds an entry named as the backup of another ("X" and "X_old", compared
// as Windows compares names, full-width letters included): finishing would
// delete it as that backup; and a top-level entry named as the run record
// ("update.run" in any case), which the run keeps open beside the files.
// kPackageOk, or kPackageBackupNameClash with *bad_entry the later of the two,
// or kPackageReservedName with *bad_entry that entry.
PackageError CheckBackupNameClashes(const char *const *names, int32_t count, int32_t *bad_entry);

// A sequential source of directory bytes with a read-ahead buffer, so that
// the directory is read in a few large reads. fill() returns the number of
// bytes it put in dest (0 at the end or on error).
struct ByteStream {
  size_t (*fill)(void *context, unsigned char *dest, size_t want);
  void *context;
  unsigned char *buffer;
  size_t capacity;
  size_t position;
  size_t length;
  uint64_t remaining; // bytes the stream may still deliver
};

void InitByteStream(ByteStream *stream, size_t (*fill)(void *, unsigned char *, size_t), void *context,
                    unsigned char *buffer, size_t capacity, uint64_t limit);

// Encodes one directory entry into out; the number of bytes written, or 0
// when the name is longer than 255 bytes.
size_t EncodeEntry(const char *name, size_t name_length, uint32_t size, uint64_t offset,
                   unsigned char out[kMaxEntryBytes]);

// Decodes count entries (count > 0) into entries. On failure *bad_entry is the
// index of the entry that could not be read or was refused.
PackageError DecodeDirectory(ByteStream *stream, int32_t count, ArchiveEntry *entries, int32_t *bad_entry);

// Size of the in-memory directory for count entries, or 0 when it overflows.
size_t DirectoryArrayBytes(int32_t count);

// Random access to a package file, for the readers of the format. read_at
// puts up to want bytes from offset into dest and returns how many it put
// (fewer at the end of the file or on an error).
struct PackageSource {
  size_t (*read_at)(void *context, uint64_t offset, unsigned char *dest, size_t want);
  void *context;
  uint64_t file_size;
};

// The last 12 bytes of the file, decoded but not checked; false when the
// file is shorter or they can't be read.
bool ReadPackageTrailer(const PackageSource &source, PackageTrailer *trailer);

// Reads the trailer, the whole directory and the data check block after it,
// and checks them. On success *entries is a new array of *count entries, and,
// when hashes is given, *hashes a new array of *count data hashes in entry
// order, or nullptr when the package carries no data check (release both
// with std::free). On failure nothing is kept, and *bad_entry is the index of
// the entry that was refused (-1 when the trailer or the data check was).
PackageError ReadPackageDirectory(const PackageSource &source, ArchiveEntry **entries, int32_t *count,
                                  int32_t *bad_entry, uint64_t **hashes = nullptr);

// 64-bit data offset of an entry.
uint64_t EntryDataOffset(const ArchiveEntry &entry);

// The package size figure: the file size less 4 (the position of the count
// field), and its KiB, truncated.
int64_t PackageSizeFigure(uint64_t file_size);
int64_t SizeFigureKiB(int64_t size_figure);
