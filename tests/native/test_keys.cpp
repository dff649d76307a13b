// The key files and keygen, and libcrypto's ECDSA: damaged key texts refused,
// signatures that must not verify refused, bcrypt's signatures accepted, and
// a private key file that only its owner can read and that keygen never
// replaces.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/mkupdate/keys.h"

namespace fs = std::filesystem;

namespace {

// Made with bcrypt (Wine 8): a key pair and its signature of SHA-256("abc").
const char kBcryptPublicKey[] = "04931d312532d839f2f385e3cede17f8ca927685d36a37903b0c1c5412b613c54b"
                                "d9a1a5ea1114b6d5c0ba6f8a494abd96a7de76af1e1378a6c394600177254499";
const char kBcryptSignature[] = "9613411c8fa897c1b1a3649ab33284e4e231134759a8b46efdacae2ab69ad13b"
                                "985a498b3f1626f5543bc9e16162dad84e4517ab7c19df5484e376ae3f585c39";
const unsigned char kAbcDigest[kEcdsaDigestBytes] = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
                                                     0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
                                                     0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};

const std::string kPublicLine = "update public key, ECDSA P-256\n";
const std::string kPrivateLine = "update private key, ECDSA P-256 - keep it secret\n";
const std::string kD = "78610e50575db6711877d2b59c98bc483a6db7abe78d72a47ef91945e7e967e8\n";
const std::string kQ = "04041d2c25d7c51b7203e23429f87f5d9d7eb1e971dd9c83620d4999eb3bf628c4"
                       "56690bf08a689c41209dc5618d1a41fefcda9036cc93b4c1344780a0a165787f\n";

void FromHex(const std::string &hex, unsigned char *bytes) {
  for (size_t i = 0; 2 * i < hex.size(); ++i)
    bytes[i] = static_cast<unsigned char>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
}

std::string ReadAll(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(KeyFiles, RefuseMalformedTexts) {
  std::string q02 = kQ;
  q02[1] = '2';
  const struct {
    bool is_private;
    std::string text, error;
  } cases[] = {
      {false, kPublicLine + kQ.substr(0, 130), "does not end with a line break"},
      {false, "", "first line must be"},
      {false, "Update public key, ECDSA P-256\n" + kQ, "first line must be"},
      {false, kPrivateLine + kD + kQ, "first line must be"},
      {false, kPublicLine + kQ + "\n", "3 lines"},
      {false, kPublicLine + kQ.substr(2), "128 characters"},
      {false, kPublicLine + "0" + kQ, "131 characters"},
      {false, kPublicLine + "04g" + kQ.substr(3), "not a hex digit"},
      {false, kPublicLine + kQ.substr(0, 130) + "\r\r\n", "131 characters"},
      {false, kPublicLine + q02, "does not start with 04"},
      {true, kPublicLine + kQ, "first line must be"},
      {true, kPrivateLine + kQ, "2 lines"},
      {true, kPrivateLine + kD.substr(1) + kQ, "line 2 (the private key) must be 64 hex digits, not 63"},
      {true, kPrivateLine + kD + kQ.substr(0, 64) + "x" + kQ.substr(65), "line 3 (the public key) holds a character"},
      {true, kPrivateLine + kD + q02, "does not start with 04"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text);
    unsigned char d[kEcdsaPrivateKeyBytes], q[kEcdsaPublicKeyBytes];
    std::string error;
    EXPECT_FALSE(c.is_private ? DecodePrivateKeyFile(c.text, d, q, &error) : DecodePublicKeyFile(c.text, q, &error));
    EXPECT_NE(std::string::npos, error.find(c.error)) << error;
  }
}

TEST(KeyFiles, RoundTripAndAcceptCrLf) {
  unsigned char d[kEcdsaPrivateKeyBytes], q[kEcdsaPublicKeyBytes], q2[kEcdsaPublicKeyBytes];
  std::string error, crlf = kPrivateLine.substr(0, kPrivateLine.size() - 1) + "\r\n" + kD + kQ;
  ASSERT_TRUE(DecodePrivateKeyFile(crlf, d, q, &error)) << error;
  EXPECT_EQ(kPrivateLine + kD + kQ, EncodePrivateKeyFile(d, q));
  ASSERT_TRUE(DecodePublicKeyFile(EncodePublicKeyFile(q), q2, &error)) << error;
  EXPECT_EQ(kPublicLine + kQ, EncodePublicKeyFile(q2));
  // sha256sum of the 65 bytes.
  EXPECT_EQ("f0352479d41c1108cd409659a44a4e563a281674476071fcf0965bd2fa40ae36", KeyFingerprint(q));
}

TEST(LibcryptoEcdsa, RefusesEveryAlteredPart) {
  unsigned char d[kEcdsaPrivateKeyBytes], q[kEcdsaPublicKeyBytes], signature[kEcdsaSignatureBytes];
  unsigned char digest[kEcdsaDigestBytes] = {1, 2, 3};
  ASSERT_TRUE(GenerateEcdsaKey(d, q));
  ASSERT_TRUE(SignEcdsaDigest(d, q, digest, signature));
  ASSERT_TRUE(VerifyEcdsaDigest(q, digest, signature));
  const struct {
    unsigned char *bytes;
    size_t index;
  } flips[] = {{digest, 0}, {digest, 31}, {signature, 0}, {signature, 63}, {q, 0}, {q, 1}, {q, 64}};
  for (const auto &flip : flips) {
    flip.bytes[flip.index] ^= 1;
    EXPECT_FALSE(VerifyEcdsaDigest(q, digest, signature)) << flip.index;
    flip.bytes[flip.index] ^= 1;
  }
  // r = 0, and s = n (the group order): out of range.
  unsigned char bad[kEcdsaSignatureBytes] = {};
  FromHex("ffffffff00000000ffffffffffffffffbce6faada7179e84f3b9cac2fc632551", bad + 32);
  EXPECT_FALSE(VerifyEcdsaDigest(q, digest, bad));
  d[31] ^= 1; // d no longer belongs to q
  EXPECT_FALSE(SignEcdsaDigest(d, q, digest, signature));
}

TEST(LibcryptoEcdsa, AcceptsBcryptSignature) {
  unsigned char q[kEcdsaPublicKeyBytes], signature[kEcdsaSignatureBytes];
  FromHex(kBcryptPublicKey, q);
  FromHex(kBcryptSignature, signature);
  EXPECT_TRUE(VerifyEcdsaDigest(q, kAbcDigest, signature));
  signature[40] ^= 0x80;
  EXPECT_FALSE(VerifyEcdsaDigest(q, kAbcDigest, signature));
}

TEST(Keygen, WritesAnOwnerOnlyKeyAndNeverReplacesIt) {
  struct Scratch {
    fs::path dir = fs::temp_directory_path() / ("keys_test_" + std::to_string(getpid()));
    Scratch() { fs::create_directories(dir); }
    ~Scratch() { fs::remove_all(dir); }
  } scratch;
  const fs::path &dir = scratch.dir;
  std::string name = (dir / "pub").string();
  ASSERT_EQ(0, RunKeygen(name));
  struct stat info;
  ASSERT_EQ(0, stat((name + ".key").c_str(), &info));
  EXPECT_EQ(0600u, info.st_mode & 07777);
  unsigned char d[kEcdsaPrivateKeyBytes], q[kEcdsaPublicKeyBytes], q2[kEcdsaPublicKeyBytes], sig[kEcdsaSignatureBytes];
  std::string error;
  ASSERT_TRUE(ReadPrivateKeyFile(name + ".key", d, q, &error)) << error;
  ASSERT_TRUE(ReadPublicKeyFile(name + ".pub", q2, &error)) << error;
  EXPECT_TRUE(SignEcdsaDigest(d, q2, kAbcDigest, sig));
  std::string key = ReadAll(name + ".key"), pub = ReadAll(name + ".pub");
  EXPECT_EQ(1, RunKeygen(name));
  EXPECT_EQ(key, ReadAll(name + ".key"));
  EXPECT_EQ(pub, ReadAll(name + ".pub"));
  fs::remove(name + ".key"); // a lone public key still blocks the name
  EXPECT_EQ(1, RunKeygen(name));
  EXPECT_FALSE(fs::exists(name + ".key"));
  EXPECT_FALSE(ReadPublicKeyFile((dir / "none.pub").string(), q, &error));
  EXPECT_NE(std::string::npos, error.find("none.pub")) << error;
}

} // namespace
