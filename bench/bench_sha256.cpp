// SHA-256 rates under Wine: ours through the processor's SHA extensions and
// through the portable block function, beside bcrypt.dll's, over the same
// bytes. scripts/bench.sh prints libcrypto's and sha256sum's beside them.
#include <windows.h>

#include <bcrypt.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "archive/sha256.h"

enum { kBufferBytes = 64 << 20, kRounds = 4 };

static double Seconds() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

static void HashOurs(const std::vector<unsigned char> &bytes, unsigned char digest[kSha256DigestBytes]) {
  Sha256 sha;
  InitSha256(&sha);
  for (int round = 0; round < kRounds; ++round)
    UpdateSha256(&sha, bytes.data(), bytes.size());
  FinishSha256(&sha, digest);
}

static bool HashBcrypt(const std::vector<unsigned char> &bytes, unsigned char digest[kSha256DigestBytes]) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool done = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0 &&
              BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0;
  for (int round = 0; done && round < kRounds; ++round)
    done = BCryptHashData(hash, const_cast<unsigned char *>(bytes.data()), static_cast<ULONG>(bytes.size()), 0) == 0;
  done = done && BCryptFinishHash(hash, digest, kSha256DigestBytes, 0) == 0;
  if (hash)
    BCryptDestroyHash(hash);
  if (algorithm)
    BCryptCloseAlgorithmProvider(algorithm, 0);
  return done;
}

// Best of three, in MiB/s.
template <typename Hash> static double Rate(const char *name, Hash hash, unsigned char digest[kSha256DigestBytes]) {
  double best = 1e9;
  for (int i = 0; i < 3; ++i) {
    double begun = Seconds();
    hash(digest);
    double took = Seconds() - begun;
    if (took < best)
      best = took;
  }
  double rate = static_cast<double>(kRounds) * (kBufferBytes >> 20) / best;
  std::printf("sha256 %-28s %8.0f MiB/s (%.2f s a GiB)\n", name, rate, 1024.0 / rate);
  return rate;
}

int main() {
  std::vector<unsigned char> bytes(kBufferBytes);
  unsigned state = 1;
  for (unsigned char &byte : bytes)
    byte = static_cast<unsigned char>((state = state * 1103515245u + 12345u) >> 24);
  unsigned char fast[kSha256DigestBytes], portable[kSha256DigestBytes], system[kSha256DigestBytes];
  UseSha256Portable(false);
  bool extensions = Sha256UsesShaExtensions();
  double ours = Rate(extensions ? "ours, SHA extensions" : "ours (no SHA extensions)",
                     [&](unsigned char *d) { HashOurs(bytes, d); }, fast);
  UseSha256Portable(true);
  double plain = Rate("ours, portable", [&](unsigned char *d) { HashOurs(bytes, d); }, portable);
  UseSha256Portable(false);
  double wine = Rate("bcrypt.dll", [&](unsigned char *d) { HashBcrypt(bytes, d); }, system);
  std::printf("sha256 ours/bcrypt.dll %.2fx, ours/portable %.2fx\n", ours / wine, ours / plain);
  bool same = std::memcmp(fast, portable, sizeof fast) == 0 && std::memcmp(fast, system, sizeof fast) == 0;
  std::printf("sha256 digests %s\n", same ? "agree" : "DIFFER");
  return same ? 0 : 1;
}
