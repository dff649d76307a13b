// Encoding of the signature block and the hashing of what it signs.
#include "archive/package_signature.h"

#include <cstdlib>
#include <cstring>

#include "common/ecdsa.h"
#include "common/owned.h"

static const unsigned char kSignatureMagic[kSignatureMagicBytes] = {'U', 'S', 'I', 'G'};

enum {
  kKeyIdAt = kSignatureHeaderBytes,
  kHashesAt = kKeyIdAt + kSignatureKeyIdBytes,
  kFixedBlockBytes = kHashesAt + kSignatureBytes,
  kSignedReadBytes = 64 * 1024,
};

size_t SignatureBlockBytes(int32_t count) {
  // Kept under half of SIZE_MAX, as the data check block is.
  if (count <= 0 || static_cast<uint64_t>(count) > (SIZE_MAX / 2 - kFixedBlockBytes) / kSignatureHashBytes)
    return 0;
  return kFixedBlockBytes + static_cast<size_t>(count) * kSignatureHashBytes;
}

void PublisherKeyId(const unsigned char key[kPublisherKeyBytes], unsigned char id[kSignatureKeyIdBytes]) {
  HashSha256(key, kPublisherKeyBytes, id);
}

void EncodeSignatureBlock(int32_t count, const unsigned char key_id[kSignatureKeyIdBytes],
                          const unsigned char *data_hashes, unsigned char *out) {
  size_t bytes = SignatureBlockBytes(count);
  std::memcpy(out, kSignatureMagic, kSignatureMagicBytes);
  WriteLe32(out + 4, kSignatureVersion);
  WriteLe32(out + 8, static_cast<uint32_t>(count));
  std::memcpy(out + kKeyIdAt, key_id, kSignatureKeyIdBytes);
  std::memcpy(out + kHashesAt, data_hashes, bytes - kFixedBlockBytes);
  std::memset(out + bytes - kSignatureBytes, 0, kSignatureBytes);
}

void BeginSignedDigest(Sha256 *sha, const unsigned char *block, size_t block_bytes) {
  InitSha256(sha);
  UpdateSha256(sha, block, block_bytes - kSignatureBytes);
}

// Feeds the bytes from offset to the end of the file to sha.
static bool HashToEnd(const PackageSource &source, uint64_t offset, Sha256 *sha) {
  MallocPtr<unsigned char> buffer = MallocArray<unsigned char>(kSignedReadBytes);
  if (!buffer)
    return false;
  while (offset < source.file_size) {
    uint64_t left = source.file_size - offset;
    size_t want = left < kSignedReadBytes ? static_cast<size_t>(left) : static_cast<size_t>(kSignedReadBytes);
    if (source.read_at(source.context, offset, buffer.get(), want) != want)
      return false;
    UpdateSha256(sha, buffer.get(), want);
    offset += want;
  }
  return true;
}

SignatureFinding ReadSignatureBlock(const PackageSource &source, const PackageTrailer &trailer, SignatureBlock *block) {
  block->data_hashes = nullptr;
  size_t bytes = SignatureBlockBytes(trailer.count);
  // The trailer is not yet checked: a block is looked for only where the
  // directory it names has room for its count of entries, which bounds the
  // memory a made-up count can ask for.
  if (bytes == 0 || trailer.directory_offset < bytes || source.file_size < kTrailerBytes ||
      trailer.directory_offset > source.file_size - kTrailerBytes ||
      (source.file_size - kTrailerBytes - trailer.directory_offset) / kMinEntryBytes <
          static_cast<uint64_t>(trailer.count))
    return kSignatureAbsent;
  MallocPtr<unsigned char> read = MallocArray<unsigned char>(bytes);
  if (!read)
    return kSignatureUnreadable;
  uint64_t start = trailer.directory_offset - bytes;
  if (source.read_at(source.context, start, read.get(), bytes) != bytes)
    return kSignatureUnreadable;
  if (std::memcmp(read.get(), kSignatureMagic, kSignatureMagicBytes) != 0)
    return kSignatureAbsent;
  if (ReadLe32(read.get() + 4) != kSignatureVersion || ReadLe32(read.get() + 8) != static_cast<uint32_t>(trailer.count))
    return kSignatureDamaged;
  Sha256 sha;
  BeginSignedDigest(&sha, read.get(), bytes);
  if (!HashToEnd(source, trailer.directory_offset, &sha))
    return kSignatureUnreadable;
  FinishSha256(&sha, block->signed_digest);
  std::memcpy(block->key_id, read.get() + kKeyIdAt, kSignatureKeyIdBytes);
  std::memcpy(block->signature, read.get() + bytes - kSignatureBytes, kSignatureBytes);
  // The hashes stay where they were read: moved to the front of the buffer.
  std::memmove(read.get(), read.get() + kHashesAt, bytes - kFixedBlockBytes);
  block->data_hashes = read.release();
  return kSignatureFound;
}

PackageError JudgeSignature(SignatureFinding finding, const SignatureBlock &block,
                            const unsigned char key[kPublisherKeyBytes]) {
  switch (finding) {
  case kSignatureAbsent:
    return kPackageNotSigned;
  case kSignatureDamaged:
    return kPackageBadSignature;
  case kSignatureUnreadable:
    return kPackageCannotOpen;
  case kSignatureFound:
    break;
  }
  unsigned char id[kSignatureKeyIdBytes];
  PublisherKeyId(key, id);
  if (std::memcmp(id, block.key_id, sizeof id) != 0)
    return kPackageSignedByOtherKey;
  return VerifyEcdsaDigest(key, block.signed_digest, block.signature) ? kPackageOk : kPackageBadSignature;
}

PackageError CheckPackageSignature(const PackageSource &source, const unsigned char key[kPublisherKeyBytes],
                                   unsigned char **data_hashes) {
  *data_hashes = nullptr;
  PackageTrailer trailer;
  if (!ReadPackageTrailer(source, &trailer))
    return kPackageTooShort;
  SignatureBlock block;
  SignatureFinding finding = ReadSignatureBlock(source, trailer, &block);
  MallocPtr<unsigned char> hashes(block.data_hashes);
  PackageError error = JudgeSignature(finding, block, key);
  if (error == kPackageOk)
    *data_hashes = hashes.release();
  return error;
}
