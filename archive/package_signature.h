// The signature block: the publisher's signature over a package, checked by
// a program that carries the publisher's public key. Portable.
//
// It ends where the directory begins, among the file data, where readers
// that know no signature look at nothing. Layout, little-endian:
//   magic         4 bytes "USIG"
//   version       u32, 1
//   count         u32, the trailer's entry count
//   key           32 bytes: the SHA-256 of the signing key's public key
//                 (65 bytes, 0x04 X Y), which names it
//   data hashes   count times 32 bytes: the SHA-256 of each entry's data
//   signature     64 bytes: ECDSA P-256, r then s, of the signed digest
// 108 + 32 * count bytes in all. The signed digest is the SHA-256 of the
// block's bytes before the signature followed by every byte from the
// directory to the end of the file (the directory, the data check block and
// the trailer): one signature covers the trailer, the directory and, through
// the hashes, every entry's data.
//
// A package is signed when the bytes of a block's length for the trailer's
// count that end at the directory begin with the magic; a block found so
// whose version or count is wrong is damaged.
#pragma once
#include <cstddef>
#include <cstdint>

#include "archive/package_format.h"
#include "archive/sha256.h"

enum {
  kSignatureMagicBytes = 4,
  kSignatureHeaderBytes = 12, // magic, version, count
  kSignatureKeyIdBytes = kSha256DigestBytes,
  kSignatureHashBytes = kSha256DigestBytes,
  kSignatureBytes = 64,
  kSignatureVersion = 1,
  kPublisherKeyBytes = 65, // 0x04 X Y
};

enum SignatureFinding {
  kSignatureAbsent,     // no block where one would end: an unsigned package
  kSignatureFound,      // a block of the right version and count
  kSignatureDamaged,    // the magic is there, the version or count is wrong
  kSignatureUnreadable, // the package could not be read
};

// Bytes of a block for count entries; 0 when count is not positive or the
// block would not fit in memory.
size_t SignatureBlockBytes(int32_t count);

// The SHA-256 of a public key, which names it.
void PublisherKeyId(const unsigned char key[kPublisherKeyBytes], unsigned char id[kSignatureKeyIdBytes]);

// Writes a block's bytes before its signature for count entries into out
// (SignatureBlockBytes(count) bytes; the signature's place is zeroed).
void EncodeSignatureBlock(int32_t count, const unsigned char key_id[kSignatureKeyIdBytes],
                          const unsigned char *data_hashes, unsigned char *out);

// The digest a block signs: the block without its signature (block_bytes in
// all, signature included), then the package's bytes from the directory to
// its end, fed with UpdateSha256 to a hash begun by BeginSignedDigest.
void BeginSignedDigest(Sha256 *sha, const unsigned char *block, size_t block_bytes);

// What a package's signature block says.
struct SignatureBlock {
  unsigned char key_id[kSignatureKeyIdBytes];
  unsigned char signature[kSignatureBytes];
  unsigned char signed_digest[kSha256DigestBytes]; // as computed from the package's bytes
  unsigned char *data_hashes;                      // count * 32 bytes, std::free it; nullptr unless found
};

// Looks for the block that would end at the directory the trailer names (the
// trailer itself not yet checked: a program with a key reads this first),
// and on kSignatureFound hashes what it signs from the file.
SignatureFinding ReadSignatureBlock(const PackageSource &source, const PackageTrailer &trailer, SignatureBlock *block);

// Where a program file keeps the publisher's key: this marker, then the
// key's 65 bytes, all zero when it carries none. The package builder finds
// the marker in a program file and writes a key after it.
#define PUBLISHER_KEY_SLOT_MARKER "publisher key slot of update.exe"
enum {
  kKeySlotMarkerBytes = sizeof PUBLISHER_KEY_SLOT_MARKER - 1,
  kKeySlotBytes = kKeySlotMarkerBytes + kPublisherKeyBytes,
};

// Judges a block ReadSignatureBlock found (or did not) as a program
// carrying key does: kPackageOk when it names key and its signature verifies.
PackageError JudgeSignature(SignatureFinding finding, const SignatureBlock &block,
                            const unsigned char key[kPublisherKeyBytes]);

// Reads and judges a package as a program carrying key does: kPackageOk when its
// signature block names key and its signature verifies; then *data_hashes is
// a new array of the signed hashes of the entries' data (std::free it).
PackageError CheckPackageSignature(const PackageSource &source, const unsigned char key[kPublisherKeyBytes],
                                   unsigned char **data_hashes);
