// ECDSA P-256 through OpenSSL 3's libcrypto, for the native mkupdate: our raw
// key bytes become EVP keys, libcrypto's DER signatures become r||s.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <cstring>

#include "common/ecdsa.h"

namespace {

enum {
  kScalarBytes = 32,
  kMaxDerSignatureBytes = 72, // SEQUENCE of two INTEGERs of up to 33 bytes each
  kUncompressedPoint = 0x04,
};

const char kGroup[] = "prime256v1";

// The order n of the P-256 group: r and s lie in [1, n - 1].
const unsigned char kGroupOrder[kScalarBytes] = {
    0xff, 0xff, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
    0xbc, 0xe6, 0xfa, 0xad, 0xa7, 0x17, 0x9e, 0x84, 0xf3, 0xb9, 0xca, 0xc2, 0xfc, 0x63, 0x25, 0x51,
};

bool IsScalarInRange(const unsigned char scalar[kScalarBytes]) {
  static const unsigned char kZero[kScalarBytes] = {};
  return std::memcmp(scalar, kZero, kScalarBytes) != 0 && std::memcmp(scalar, kGroupOrder, kScalarBytes) < 0;
}

// A key from our bytes; private_key nullptr for a public key alone. nullptr
// when libcrypto refuses it (a point off the curve, say).
EVP_PKEY *MakeKey(const unsigned char *private_key, const unsigned char public_key[kEcdsaPublicKeyBytes]) {
  if (public_key[0] != kUncompressedPoint)
    return nullptr;
  OSSL_PARAM_BLD *build = OSSL_PARAM_BLD_new();
  BIGNUM *d = private_key ? BN_secure_new() : nullptr;
  EVP_PKEY_CTX *context = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
  OSSL_PARAM *params = nullptr;
  EVP_PKEY *key = nullptr;
  bool built = build && context && (!private_key || d) &&
               OSSL_PARAM_BLD_push_utf8_string(build, OSSL_PKEY_PARAM_GROUP_NAME, kGroup, 0) &&
               OSSL_PARAM_BLD_push_octet_string(build, OSSL_PKEY_PARAM_PUB_KEY, public_key, kEcdsaPublicKeyBytes) &&
               (!private_key || (BN_bin2bn(private_key, kEcdsaPrivateKeyBytes, d) &&
                                 OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_PRIV_KEY, d)));
  if (built)
    params = OSSL_PARAM_BLD_to_param(build);
  if (params && EVP_PKEY_fromdata_init(context) == 1)
    EVP_PKEY_fromdata(context, &key, private_key ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY, params);
  OSSL_PARAM_free(params);
  EVP_PKEY_CTX_free(context);
  BN_clear_free(d);
  OSSL_PARAM_BLD_free(build);
  return key;
}

// The raw r||s of a DER signature, each value padded to 32 bytes.
bool DerToRaw(const unsigned char *der, size_t der_bytes, unsigned char signature[kEcdsaSignatureBytes]) {
  const unsigned char *cursor = der;
  ECDSA_SIG *parsed = d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(der_bytes));
  if (parsed == nullptr)
    return false;
  const BIGNUM *r = nullptr, *s = nullptr;
  ECDSA_SIG_get0(parsed, &r, &s);
  bool done = BN_bn2binpad(r, signature, kScalarBytes) == kScalarBytes &&
              BN_bn2binpad(s, signature + kScalarBytes, kScalarBytes) == kScalarBytes;
  ECDSA_SIG_free(parsed);
  return done;
}

// DER of r||s into der (kMaxDerSignatureBytes); 0 when it cannot be made.
size_t RawToDer(const unsigned char signature[kEcdsaSignatureBytes], unsigned char der[kMaxDerSignatureBytes]) {
  ECDSA_SIG *made = ECDSA_SIG_new();
  BIGNUM *r = BN_bin2bn(signature, kScalarBytes, nullptr);
  BIGNUM *s = BN_bin2bn(signature + kScalarBytes, kScalarBytes, nullptr);
  if (made == nullptr || r == nullptr || s == nullptr || ECDSA_SIG_set0(made, r, s) != 1) {
    BN_free(r);
    BN_free(s);
    ECDSA_SIG_free(made);
    return 0;
  }
  // The set0 above gave r and s to made.
  int length = i2d_ECDSA_SIG(made, nullptr);
  unsigned char *cursor = der;
  if (length <= 0 || length > kMaxDerSignatureBytes || i2d_ECDSA_SIG(made, &cursor) != length)
    length = 0;
  ECDSA_SIG_free(made);
  return static_cast<size_t>(length);
}

// Both parts of a key libcrypto made, as our bytes.
bool ExportKey(const EVP_PKEY *key, unsigned char private_key[kEcdsaPrivateKeyBytes],
               unsigned char public_key[kEcdsaPublicKeyBytes]) {
  BIGNUM *d = nullptr;
  size_t public_bytes = 0;
  bool done = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &d) == 1 &&
              BN_bn2binpad(d, private_key, kEcdsaPrivateKeyBytes) == kEcdsaPrivateKeyBytes &&
              EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, public_key, kEcdsaPublicKeyBytes,
                                              &public_bytes) == 1 &&
              public_bytes == kEcdsaPublicKeyBytes && public_key[0] == kUncompressedPoint;
  BN_clear_free(d);
  return done;
}

} // namespace

bool GenerateEcdsaKey(unsigned char private_key[kEcdsaPrivateKeyBytes],
                      unsigned char public_key[kEcdsaPublicKeyBytes]) {
  EVP_PKEY *key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", kGroup);
  bool made = key != nullptr && ExportKey(key, private_key, public_key);
  EVP_PKEY_free(key);
  if (!made)
    OPENSSL_cleanse(private_key, kEcdsaPrivateKeyBytes);
  return made;
}

bool SignEcdsaDigest(const unsigned char private_key[kEcdsaPrivateKeyBytes],
                     const unsigned char public_key[kEcdsaPublicKeyBytes],
                     const unsigned char digest[kEcdsaDigestBytes], unsigned char signature[kEcdsaSignatureBytes]) {
  EVP_PKEY *key = MakeKey(private_key, public_key);
  EVP_PKEY_CTX *context = key ? EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr) : nullptr;
  unsigned char der[kMaxDerSignatureBytes];
  size_t der_bytes = sizeof der;
  // libcrypto takes d and the point as given: the pair check proves they
  // belong together. The digest is signed as it is, with no hash of its own.
  bool signed_ok = context && EVP_PKEY_pairwise_check(context) == 1 && EVP_PKEY_sign_init(context) == 1 &&
                   EVP_PKEY_sign(context, der, &der_bytes, digest, kEcdsaDigestBytes) == 1 &&
                   DerToRaw(der, der_bytes, signature);
  EVP_PKEY_CTX_free(context);
  EVP_PKEY_free(key);
  if (!signed_ok)
    std::memset(signature, 0, kEcdsaSignatureBytes);
  return signed_ok;
}

bool VerifyEcdsaDigest(const unsigned char public_key[kEcdsaPublicKeyBytes],
                       const unsigned char digest[kEcdsaDigestBytes],
                       const unsigned char signature[kEcdsaSignatureBytes]) {
  unsigned char der[kMaxDerSignatureBytes];
  if (!IsScalarInRange(signature) || !IsScalarInRange(signature + kScalarBytes))
    return false;
  size_t der_bytes = RawToDer(signature, der);
  if (der_bytes == 0)
    return false;
  EVP_PKEY *key = MakeKey(nullptr, public_key);
  EVP_PKEY_CTX *context = key ? EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr) : nullptr;
  bool valid = context && EVP_PKEY_verify_init(context) == 1 &&
               EVP_PKEY_verify(context, der, der_bytes, digest, kEcdsaDigestBytes) == 1;
  EVP_PKEY_CTX_free(context);
  EVP_PKEY_free(key);
  return valid;
}
