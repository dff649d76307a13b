// ECDSA on P-256 over SHA-256 digests: the publisher's keys, signing and
// verifying. Keys and signatures are plain bytes, the same for every
// implementation: common/ecdsa_win32.cpp through bcrypt.dll (update.exe and
// mkupdate.exe) and tools/mkupdate/ecdsa_openssl.cpp through libcrypto (the
// native mkupdate).
#pragma once

enum {
  kEcdsaPrivateKeyBytes = 32, // the scalar d, big-endian
  kEcdsaPublicKeyBytes = 65,  // 0x04, then X and Y, 32 bytes each, big-endian
  kEcdsaSignatureBytes = 64,  // r, then s, 32 bytes each, big-endian
  kEcdsaDigestBytes = 32,     // a SHA-256 digest
};

// A new key pair from the system's random source. false when none could be made.
bool GenerateEcdsaKey(unsigned char private_key[kEcdsaPrivateKeyBytes],
                      unsigned char public_key[kEcdsaPublicKeyBytes]);

// Signs digest with the key pair. false when the key is not a valid pair or
// the signing failed.
bool SignEcdsaDigest(const unsigned char private_key[kEcdsaPrivateKeyBytes],
                     const unsigned char public_key[kEcdsaPublicKeyBytes],
                     const unsigned char digest[kEcdsaDigestBytes], unsigned char signature[kEcdsaSignatureBytes]);

// true only when signature is a valid signature of digest by public_key; an
// invalid key is refused like a wrong signature.
bool VerifyEcdsaDigest(const unsigned char public_key[kEcdsaPublicKeyBytes],
                       const unsigned char digest[kEcdsaDigestBytes],
                       const unsigned char signature[kEcdsaSignatureBytes]);
