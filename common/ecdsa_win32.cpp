// ECDSA P-256 through bcrypt.dll, for update.exe and mkupdate.exe: our raw
// key bytes become bcrypt's key blobs (a small header, then X, Y and, for a
// private key, d) and back.
#include <windows.h>
#include <bcrypt.h>
#include <cstring>

#include "common/ecdsa.h"

namespace {

enum {
  kCoordinateBytes = 32,
  kPublicBlobBytes = sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kCoordinateBytes,
  kPrivateBlobBytes = kPublicBlobBytes + kEcdsaPrivateKeyBytes,
  kUncompressedPoint = 0x04, // the first byte of our public keys
};

const NTSTATUS kSuccess = 0;

// The provider is opened per call: keys are made and used a few times per
// run, and no handle outlives the call.
BCRYPT_ALG_HANDLE OpenP256() {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != kSuccess)
    return nullptr;
  return algorithm;
}

// Header, X and Y; blob must hold kPublicBlobBytes.
void FillPublicBlob(const unsigned char public_key[kEcdsaPublicKeyBytes], ULONG magic, unsigned char *blob) {
  BCRYPT_ECCKEY_BLOB header = {magic, static_cast<ULONG>(kCoordinateBytes)};
  std::memcpy(blob, &header, sizeof header);
  std::memcpy(blob + sizeof header, public_key + 1, 2 * kCoordinateBytes);
}

BCRYPT_KEY_HANDLE ImportKey(BCRYPT_ALG_HANDLE algorithm, LPCWSTR type, unsigned char *blob, size_t blob_bytes) {
  BCRYPT_KEY_HANDLE key = nullptr;
  if (BCryptImportKeyPair(algorithm, nullptr, type, &key, blob, static_cast<ULONG>(blob_bytes), 0) != kSuccess)
    return nullptr;
  return key;
}

BCRYPT_KEY_HANDLE ImportPublicKey(BCRYPT_ALG_HANDLE algorithm, const unsigned char public_key[kEcdsaPublicKeyBytes]) {
  unsigned char blob[kPublicBlobBytes];
  FillPublicBlob(public_key, BCRYPT_ECDSA_PUBLIC_P256_MAGIC, blob);
  return ImportKey(algorithm, BCRYPT_ECCPUBLIC_BLOB, blob, sizeof blob);
}

BCRYPT_KEY_HANDLE ImportPrivateKey(BCRYPT_ALG_HANDLE algorithm, const unsigned char private_key[kEcdsaPrivateKeyBytes],
                                   const unsigned char public_key[kEcdsaPublicKeyBytes]) {
  unsigned char blob[kPrivateBlobBytes];
  FillPublicBlob(public_key, BCRYPT_ECDSA_PRIVATE_P256_MAGIC, blob);
  std::memcpy(blob + kPublicBlobBytes, private_key, kEcdsaPrivateKeyBytes);
  BCRYPT_KEY_HANDLE key = ImportKey(algorithm, BCRYPT_ECCPRIVATE_BLOB, blob, sizeof blob);
  SecureZeroMemory(blob, sizeof blob);
  return key;
}

bool VerifyWithKey(BCRYPT_KEY_HANDLE key, const unsigned char digest[kEcdsaDigestBytes],
                   const unsigned char signature[kEcdsaSignatureBytes]) {
  // bcrypt takes non-const buffers that it only reads.
  return BCryptVerifySignature(key, nullptr, const_cast<PUCHAR>(digest), kEcdsaDigestBytes,
                               const_cast<PUCHAR>(signature), kEcdsaSignatureBytes, 0) == kSuccess;
}

// Copies the exported private blob out as our bytes, once its header and
// size are what P-256 gives.
bool ReadPrivateBlob(const unsigned char *blob, ULONG blob_bytes, unsigned char private_key[kEcdsaPrivateKeyBytes],
                     unsigned char public_key[kEcdsaPublicKeyBytes]) {
  BCRYPT_ECCKEY_BLOB header;
  if (blob_bytes != kPrivateBlobBytes)
    return false;
  std::memcpy(&header, blob, sizeof header);
  if (header.dwMagic != BCRYPT_ECDSA_PRIVATE_P256_MAGIC || header.cbKey != kCoordinateBytes)
    return false;
  public_key[0] = kUncompressedPoint;
  std::memcpy(public_key + 1, blob + sizeof header, 2 * kCoordinateBytes);
  std::memcpy(private_key, blob + kPublicBlobBytes, kEcdsaPrivateKeyBytes);
  return true;
}

} // namespace

bool GenerateEcdsaKey(unsigned char private_key[kEcdsaPrivateKeyBytes],
                      unsigned char public_key[kEcdsaPublicKeyBytes]) {
  BCRYPT_ALG_HANDLE algorithm = OpenP256();
  if (algorithm == nullptr)
    return false;
  BCRYPT_KEY_HANDLE key = nullptr;
  unsigned char blob[kPrivateBlobBytes];
  ULONG blob_bytes = 0;
  bool made = BCryptGenerateKeyPair(algorithm, &key, 256, 0) == kSuccess && BCryptFinalizeKeyPair(key, 0) == kSuccess &&
              BCryptExportKey(key, nullptr, BCRYPT_ECCPRIVATE_BLOB, blob, static_cast<ULONG>(sizeof blob), &blob_bytes,
                              0) == kSuccess &&
              ReadPrivateBlob(blob, blob_bytes, private_key, public_key);
  SecureZeroMemory(blob, sizeof blob);
  if (key != nullptr)
    BCryptDestroyKey(key);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return made;
}

bool SignEcdsaDigest(const unsigned char private_key[kEcdsaPrivateKeyBytes],
                     const unsigned char public_key[kEcdsaPublicKeyBytes],
                     const unsigned char digest[kEcdsaDigestBytes], unsigned char signature[kEcdsaSignatureBytes]) {
  if (public_key[0] != kUncompressedPoint)
    return false;
  BCRYPT_ALG_HANDLE algorithm = OpenP256();
  if (algorithm == nullptr)
    return false;
  BCRYPT_KEY_HANDLE key = ImportPrivateKey(algorithm, private_key, public_key);
  ULONG written = 0;
  // The output size is given, not asked for: Wine 8 answers a size query
  // with 32 though it writes 64 bytes.
  bool signed_ok = key != nullptr &&
                   BCryptSignHash(key, nullptr, const_cast<PUCHAR>(digest), kEcdsaDigestBytes, signature,
                                  kEcdsaSignatureBytes, &written, 0) == kSuccess &&
                   written == kEcdsaSignatureBytes;
  if (key != nullptr)
    BCryptDestroyKey(key);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  // Wine imports a d that does not belong to X and Y and signs with it: only
  // a signature the public key accepts shows that the pair is one.
  signed_ok = signed_ok && VerifyEcdsaDigest(public_key, digest, signature);
  if (!signed_ok)
    std::memset(signature, 0, kEcdsaSignatureBytes);
  return signed_ok;
}

bool VerifyEcdsaDigest(const unsigned char public_key[kEcdsaPublicKeyBytes],
                       const unsigned char digest[kEcdsaDigestBytes],
                       const unsigned char signature[kEcdsaSignatureBytes]) {
  if (public_key[0] != kUncompressedPoint)
    return false;
  BCRYPT_ALG_HANDLE algorithm = OpenP256();
  if (algorithm == nullptr)
    return false;
  BCRYPT_KEY_HANDLE key = ImportPublicKey(algorithm, public_key);
  bool valid = key != nullptr && VerifyWithKey(key, digest, signature);
  if (key != nullptr)
    BCryptDestroyKey(key);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return valid;
}
