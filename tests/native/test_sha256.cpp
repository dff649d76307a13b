// SHA-256: the FIPS 180-4 examples and libcrypto's digests through both block
// functions, and the SHA extensions against the portable function, every
// message fed in random pieces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "archive/sha256.h"

#ifdef UPD_TEST_LIBCRYPTO
#include <openssl/evp.h>
#endif

namespace {

typedef std::vector<unsigned char> Bytes;

// Every length up to a few blocks, and two long messages.
std::vector<size_t> Lengths() {
  std::vector<size_t> lengths;
  for (size_t length = 0; length <= 300; ++length)
    lengths.push_back(length);
  lengths.insert(lengths.end(), {(1u << 20) + 7, (3u << 20) + 61});
  return lengths;
}

Bytes RandomBytes(size_t count, std::mt19937 *random) {
  Bytes bytes(count);
  for (unsigned char &byte : bytes)
    byte = static_cast<unsigned char>((*random)());
  return bytes;
}

// Fed in pieces of random lengths: under a block, or up to many blocks.
Bytes Digest(const Bytes &bytes, std::mt19937 *random) {
  Sha256 sha;
  InitSha256(&sha);
  UpdateSha256(&sha, nullptr, 0);
  for (size_t done = 0; done < bytes.size();) {
    size_t piece = std::min<size_t>(bytes.size() - done, (*random)() % ((*random)() % 2 ? 70 : 5000));
    UpdateSha256(&sha, bytes.data() + done, piece);
    done += piece;
  }
  Bytes digest(kSha256DigestBytes);
  FinishSha256(&sha, digest.data());
  return digest;
}

std::string Hex(const unsigned char *digest) {
  std::string hex;
  char two[3];
  for (int i = 0; i < kSha256DigestBytes; ++i)
    hex.append(two, static_cast<size_t>(std::snprintf(two, sizeof two, "%02x", digest[i])));
  return hex;
}

// The parameter: whether the portable block function is forced.
class Sha256Test : public testing::TestWithParam<bool> {
protected:
  void SetUp() override {
    UseSha256Portable(GetParam());
    if (!Sha256UsesShaExtensions() && !GetParam())
      GTEST_SKIP() << "the processor has no SHA extensions";
  }
  void TearDown() override { UseSha256Portable(false); }
  std::mt19937 random_{1};
};

INSTANTIATE_TEST_SUITE_P(BlockFunctions, Sha256Test, testing::Bool(),
                         [](const testing::TestParamInfo<bool> &info) { return info.param ? "Portable" : "Sha"; });

TEST_P(Sha256Test, HashesTheFipsExamples) {
  struct Case {
    std::string message;
    const char *digest;
  } cases[] = {
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.message.size());
    Bytes message(c.message.begin(), c.message.end());
    EXPECT_EQ(c.digest, Hex(Digest(message, &random_).data()));
    unsigned char digest[kSha256DigestBytes];
    HashSha256(message.data(), message.size(), digest);
    EXPECT_EQ(c.digest, Hex(digest));
  }
}

TEST(Sha256, ShaExtensionsMatchThePortableFunction) {
  UseSha256Portable(false);
  if (!Sha256UsesShaExtensions())
    GTEST_SKIP() << "the processor has no SHA extensions";
  std::mt19937 random(2);
  for (size_t length : Lengths()) {
    Bytes bytes = RandomBytes(length, &random);
    UseSha256Portable(true);
    Bytes portable = Digest(bytes, &random);
    UseSha256Portable(false);
    ASSERT_EQ(portable, Digest(bytes, &random)) << length << " bytes";
  }
}

#ifdef UPD_TEST_LIBCRYPTO
TEST_P(Sha256Test, MatchesLibcrypto) {
  for (size_t length : Lengths()) {
    Bytes bytes = RandomBytes(length, &random_), expected(EVP_MAX_MD_SIZE);
    unsigned int expected_bytes = 0;
    ASSERT_EQ(1, EVP_Digest(bytes.data(), bytes.size(), expected.data(), &expected_bytes, EVP_sha256(), nullptr));
    expected.resize(expected_bytes);
    ASSERT_EQ(expected, Digest(bytes, &random_)) << length << " bytes";
  }
}
#endif

} // namespace
