// The publisher's signing keys as files, the same on every system: NAME.key
// (private: d and the public key, so that it alone can sign and name its
// key) and NAME.pub (public), small text files of our own format, and the
// keygen command that makes a pair.
#pragma once
#include <string>

#include "archive/package_signature.h"
#include "common/ecdsa.h"

// The public key file's text: its first line, then 130 hex digits.
std::string EncodePublicKeyFile(const unsigned char public_key[kEcdsaPublicKeyBytes]);
// Reads such a text; false with *error (an English sentence without the
// file's name) when it is not one.
bool DecodePublicKeyFile(const std::string &text, unsigned char public_key[kEcdsaPublicKeyBytes], std::string *error);

// The private key file's text: its first line, 64 hex digits of d, then the
// 130 of the public key.
std::string EncodePrivateKeyFile(const unsigned char private_key[kEcdsaPrivateKeyBytes],
                                 const unsigned char public_key[kEcdsaPublicKeyBytes]);
bool DecodePrivateKeyFile(const std::string &text, unsigned char private_key[kEcdsaPrivateKeyBytes],
                          unsigned char public_key[kEcdsaPublicKeyBytes], std::string *error);

// Lowercase hex of the SHA-256 of the 65 public key bytes (the key id a
// signature block names it by): how people compare keys.
std::string KeyFingerprint(const unsigned char public_key[kEcdsaPublicKeyBytes]);
std::string KeyIdFingerprint(const unsigned char key_id[kSignatureKeyIdBytes]);

// The files themselves; *error names the file.
bool ReadPublicKeyFile(const std::string &path, unsigned char public_key[kEcdsaPublicKeyBytes], std::string *error);
bool ReadPrivateKeyFile(const std::string &path, unsigned char private_key[kEcdsaPrivateKeyBytes],
                        unsigned char public_key[kEcdsaPublicKeyBytes], std::string *error);

// mkupdate keygen NAME: a new pair, checked by signing and verifying, in
// NAME.key (its owner alone may read it) and NAME.pub, never over an existing
// file. Prints what it wrote and the fingerprint; the exit status, 0 or 1.
int RunKeygen(const std::string &name);
