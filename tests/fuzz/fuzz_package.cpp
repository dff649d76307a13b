// Fuzz target: a whole package file as the loader sees it. Whatever the
// bytes, decoding never reads or writes out of bounds, a package that is
// accepted holds only safe, terminated names, the bytes after its directory
// decode as a data check block or as nothing, and a signature block is
// looked for (before the trailer is checked, as a program with a key does)
// without a read outside the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/data_check.h"
#include "archive/package_format.h"
#include "archive/package_signature.h"
#include "common/ecdsa.h"

// The target reads signature blocks; it verifies no signature.
bool VerifyEcdsaDigest(const unsigned char *, const unsigned char *, const unsigned char *) { return false; }

namespace {

struct Memory {
  const uint8_t *data;
  size_t size;
  size_t at;
};

size_t FillFromMemory(void *context, unsigned char *dest, size_t want) {
  Memory *memory = static_cast<Memory *>(context);
  size_t take = memory->size - memory->at < want ? memory->size - memory->at : want;
  std::memcpy(dest, memory->data + memory->at, take);
  memory->at += take;
  return take;
}

size_t ReadFromMemory(void *context, uint64_t offset, unsigned char *dest, size_t want) {
  const Memory *memory = static_cast<const Memory *>(context);
  if (offset >= memory->size)
    return 0;
  size_t take = memory->size - offset < want ? static_cast<size_t>(memory->size - offset) : want;
  std::memcpy(dest, memory->data + offset, take);
  return take;
}

void LookForSignature(const uint8_t *data, size_t size) {
  Memory whole{data, size, 0};
  PackageSource source{ReadFromMemory, &whole, size};
  SignatureBlock block;
  SignatureFinding finding = ReadSignatureBlock(source, DecodeTrailer(data + size - kTrailerBytes), &block);
  if ((finding == kSignatureFound) != (block.data_hashes != nullptr))
    std::abort();
  std::free(block.data_hashes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < kTrailerBytes)
    return 0;
  LookForSignature(data, size);
  PackageTrailer trailer = DecodeTrailer(data + size - kTrailerBytes);
  uint64_t directory_bytes = 0;
  if (CheckTrailer(trailer, size, &directory_bytes) != kPackageOk)
    return 0;
  if (trailer.directory_offset + directory_bytes != size - kTrailerBytes)
    std::abort(); // the directory must end at the trailer
  size_t array_bytes = DirectoryArrayBytes(trailer.count);
  if (array_bytes == 0 || array_bytes > (64u << 20))
    return 0;
  std::vector<ArchiveEntry> entries(static_cast<size_t>(trailer.count));
  unsigned char buffer[64];
  Memory memory{data, size - kTrailerBytes, static_cast<size_t>(trailer.directory_offset)};
  ByteStream stream;
  InitByteStream(&stream, FillFromMemory, &memory, buffer, sizeof buffer, directory_bytes);
  int32_t bad_entry = -1;
  if (DecodeDirectory(&stream, trailer.count, entries.data(), &bad_entry) != kPackageOk) {
    if (bad_entry < 0 || bad_entry >= trailer.count)
      std::abort();
    return 0;
  }
  for (const ArchiveEntry &entry : entries) {
    size_t length = strnlen(entry.name, sizeof entry.name);
    if (length > 255 || !IsSafeEntryName(entry.name, length))
      std::abort();
    // No accepted name climbs out of the destination.
    if (length > 0 && (entry.name[0] == '\\' || std::strchr(entry.name, ':') != nullptr))
      std::abort();
  }
  // What the stream has not handed out lies between the directory and the trailer.
  size_t gap_start = memory.at - (stream.length - stream.position);
  std::vector<uint64_t> hashes(static_cast<size_t>(trailer.count));
  DataCheckResult check =
      DecodeDataCheck(data + gap_start, size - kTrailerBytes - gap_start, trailer.count, hashes.data());
  if (check != kDataCheckAbsent && check != kDataCheckValid && !IsDataCheckMalformed(check))
    std::abort();
  return 0;
}
