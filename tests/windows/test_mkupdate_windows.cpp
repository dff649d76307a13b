// The package builder built for Windows: Japanese file names are read and
// stored in code page 932, as on a publisher's Linux machine; its signing
// keys through bcrypt, which must agree with libcrypto's, and our SHA-256
// against bcrypt's.
#include <gtest/gtest.h>

#include <windows.h>
#include <bcrypt.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstring>
#include <random>

#include "archive/sha256.h"
#include "test_support.h"
#include "tools/mkupdate/keys.h"
#include "tools/mkupdate/package_builder.h"

namespace {

// Made with libcrypto (OpenSSL 3.0): a public key and its signature of
// SHA-256("abc").
const char kLibcryptoPublicKey[] = "04041d2c25d7c51b7203e23429f87f5d9d7eb1e971dd9c83620d4999eb3bf628c4"
                                   "56690bf08a689c41209dc5618d1a41fefcda9036cc93b4c1344780a0a165787f";
const char kLibcryptoSignature[] = "5202abda00cd79fb8cd38210ca2eeb866826362959b6596b7bc13def8920fdca"
                                   "4958844b97ae48e8ad485c1ba0d1cd62824c9d1eb7ce73bb2814144f8530fa2f";

void FromHex(const char *hex, unsigned char *bytes) {
  for (size_t i = 0; hex[2 * i] != 0; ++i)
    bytes[i] = static_cast<unsigned char>(std::stoi(std::string(hex + 2 * i, 2), nullptr, 16));
}

TEST(BcryptEcdsa, AgreesWithLibcryptoAndRefusesAlteredParts) {
  unsigned char d[kEcdsaPrivateKeyBytes], q[kEcdsaPublicKeyBytes], signature[kEcdsaSignatureBytes];
  unsigned char libcrypto_q[kEcdsaPublicKeyBytes], libcrypto_signature[kEcdsaSignatureBytes], digest[kEcdsaDigestBytes];
  HashSha256(reinterpret_cast<const unsigned char *>("abc"), 3, digest);
  ASSERT_TRUE(GenerateEcdsaKey(d, q));
  ASSERT_TRUE(SignEcdsaDigest(d, q, digest, signature));
  FromHex(kLibcryptoPublicKey, libcrypto_q);
  FromHex(kLibcryptoSignature, libcrypto_signature);
  const struct {
    unsigned char *key, *signature, *flipped;
    size_t index;
  } cases[] = {{q, signature, digest, 0},
               {q, signature, signature, 63},
               {q, signature, q, 64},
               {libcrypto_q, libcrypto_signature, digest, 31},
               {libcrypto_q, libcrypto_signature, libcrypto_signature, 0}};
  for (const auto &c : cases) {
    EXPECT_TRUE(VerifyEcdsaDigest(c.key, digest, c.signature)) << c.index;
    c.flipped[c.index] ^= 1;
    EXPECT_FALSE(VerifyEcdsaDigest(c.key, digest, c.signature)) << c.index;
    c.flipped[c.index] ^= 1;
  }
  d[0] ^= 1; // Wine's bcrypt signs with a d that does not belong to q
  EXPECT_FALSE(SignEcdsaDigest(d, q, digest, signature));
}

// BCryptHash itself is declared for Windows 10 only.
bool BcryptSha256(BCRYPT_ALG_HANDLE sha256, unsigned char *bytes, size_t count, unsigned char *digest) {
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool done = BCryptCreateHash(sha256, &hash, nullptr, 0, nullptr, 0, 0) == 0 &&
              BCryptHashData(hash, bytes, static_cast<ULONG>(count), 0) == 0 &&
              BCryptFinishHash(hash, digest, kSha256DigestBytes, 0) == 0;
  if (hash != nullptr)
    BCryptDestroyHash(hash);
  return done;
}

TEST(Sha256OnWindows, MatchesBcryptInBothBlockFunctions) {
  BCRYPT_ALG_HANDLE sha256 = nullptr;
  ASSERT_EQ(0, BCryptOpenAlgorithmProvider(&sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0));
  std::mt19937 random(3);
  std::vector<size_t> sizes;
  for (size_t size = 0; size <= 300; ++size)
    sizes.push_back(size);
  sizes.insert(sizes.end(), {(1u << 20) + 7, (3u << 20) + 61});
  for (bool portable : {true, false}) {
    UseSha256Portable(portable);
    if (!portable && !Sha256UsesShaExtensions())
      continue; // the processor has no SHA extensions
    for (size_t size : sizes) {
      // One byte more than hashed: data() is a real buffer even for 0.
      std::vector<unsigned char> bytes(size + 1), ours(kSha256DigestBytes), theirs(kSha256DigestBytes);
      for (unsigned char &byte : bytes)
        byte = static_cast<unsigned char>(random());
      HashSha256(bytes.data(), size, ours.data());
      ASSERT_TRUE(BcryptSha256(sha256, bytes.data(), size, theirs.data()));
      ASSERT_EQ(theirs, ours) << size << " bytes, portable " << portable;
    }
  }
  UseSha256Portable(false);
  BCryptCloseAlgorithmProvider(sha256, 0);
}

// The file's DACL in SDDL.
std::string DaclText(const std::string &path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  char *text = nullptr;
  std::string dacl;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                            &descriptor) == ERROR_SUCCESS &&
      ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                           &text, nullptr))
    dacl = text;
  LocalFree(text);
  LocalFree(descriptor);
  return dacl;
}

TEST(KeygenOnWindows, WritesAKeyPairOnceOnly) {
  TempDir dir;
  std::string name = dir.Join("鍵");
  ASSERT_EQ(0, RunKeygen(name));
  unsigned char d[kEcdsaPrivateKeyBytes], q[kEcdsaPublicKeyBytes], q2[kEcdsaPublicKeyBytes];
  std::string error, key = ReadBytes(name + ".key");
  ASSERT_TRUE(ReadPrivateKeyFile(name + ".key", d, q, &error)) << error;
  ASSERT_TRUE(ReadPublicKeyFile(name + ".pub", q2, &error)) << error;
  EXPECT_EQ(0, std::memcmp(q, q2, sizeof q));
  // Everyone (WD) may read the public key, not the private one.
  EXPECT_EQ(std::string::npos, DaclText(name + ".key").find(";WD)")) << DaclText(name + ".key");
  EXPECT_NE(std::string::npos, DaclText(name + ".pub").find(";WD)")) << DaclText(name + ".pub");
  EXPECT_EQ(1, RunKeygen(name));
  EXPECT_EQ(key, ReadBytes(name + ".key"));
}

TEST(PackageBuilderOnWindows, PacksJapaneseNamesInCodePage932) {
  TempDir dir;
  std::string folder = dir.Join("in");
  CreateDirectoryA(folder.c_str(), nullptr);
  CreateDirectoryA((folder + "\\キャラ").c_str(), nullptr);
  ASSERT_TRUE(WriteBytes(folder + "\\キャラ\\ソ.bmp", "face"));
  ASSERT_TRUE(WriteBytes(folder + "\\readme.txt", "hello"));

  std::vector<PackFile> files;
  BuildReport report;
  ASSERT_TRUE(CollectPackFiles(folder, &files, &report)) << report.error;
  ASSERT_TRUE(WritePackage(files, dir.Join("UPDATE.DAT"), &report, nullptr)) << report.error;
  PackageCheck check;
  ASSERT_TRUE(CheckPackage(dir.Join("UPDATE.DAT"), &check));
  EXPECT_TRUE(check.problems.empty());
  ASSERT_EQ(2u, check.entries.size());
  EXPECT_EQ("readme.txt", check.entries[0].name);
  EXPECT_EQ("キャラ\\ソ.bmp", check.entries[1].name); // literals here are code page 932
  std::string package = ReadBytes(dir.Join("UPDATE.DAT"));
  EXPECT_EQ("face", package.substr(static_cast<size_t>(check.entries[1].offset), check.entries[1].size));
}

} // namespace
