// SHA-256 with two block functions: a portable one and, on x86, one through
// the processor's SHA extensions, several times faster. Which runs is chosen
// from cpuid at the first hash, so that the rest of the build needs no flags
// for those instructions and still runs on processors without them.
#include "archive/sha256.h"

#include <atomic>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#define UPD_SHA256_X86 1
#include <cpuid.h>
#include <immintrin.h>
#endif

// The first 32 bits of the fractional parts of the cube roots of the first
// 64 primes.
static const uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

// The first 32 bits of the fractional parts of the square roots of the first
// 8 primes.
static const uint32_t kInitialState[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

// Hashes count whole blocks into state.
typedef void Sha256Blocks(uint32_t state[8], const unsigned char *blocks, size_t count);

// The block function chosen; nullptr until the first hash chooses. Atomic so
// that threads hashing for the first time at once may each choose, to the
// same answer.
static std::atomic<Sha256Blocks *> sSha256Blocks{nullptr};

// Byte by byte: the input has no alignment, and the host may be of either order.
static uint32_t LoadBigEndian32(const unsigned char *bytes) {
  return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
         static_cast<uint32_t>(bytes[2]) << 8 | static_cast<uint32_t>(bytes[3]);
}

static void StoreBigEndian32(unsigned char *bytes, uint32_t value) {
  bytes[0] = static_cast<unsigned char>(value >> 24);
  bytes[1] = static_cast<unsigned char>(value >> 16);
  bytes[2] = static_cast<unsigned char>(value >> 8);
  bytes[3] = static_cast<unsigned char>(value);
}

// bits is 1 to 31: a shift by 32 would be undefined.
static uint32_t RotateRight(uint32_t value, int bits) { return value >> bits | value << (32 - bits); }

static void HashBlocksPortable(uint32_t state[8], const unsigned char *blocks, size_t count) {
  for (; count > 0; --count, blocks += kSha256BlockBytes) {
    uint32_t w[64];
    for (int t = 0; t < 16; ++t)
      w[t] = LoadBigEndian32(blocks + 4 * t);
    for (int t = 16; t < 64; ++t) {
      uint32_t s0 = RotateRight(w[t - 15], 7) ^ RotateRight(w[t - 15], 18) ^ w[t - 15] >> 3;
      uint32_t s1 = RotateRight(w[t - 2], 17) ^ RotateRight(w[t - 2], 19) ^ w[t - 2] >> 10;
      w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < 64; ++t) {
      uint32_t choice = (e & f) ^ (~e & g);
      uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
      uint32_t t1 =
          h + (RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25)) + choice + kRoundConstants[t] + w[t];
      uint32_t t2 = (RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22)) + majority;
      h = g;
      g = f;
      f = e;
      e = d + t1;
      d = c;
      c = b;
      b = a;
      a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
  }
}

#ifdef UPD_SHA256_X86
#ifdef __i386__
// The compiler takes the stack as 16-byte aligned and folds its spills of
// 16-byte registers into instructions that fault on less, but 32-bit Windows
// promises 4 bytes only (a window procedure may be called with that).
#define UPD_SHA256_ALIGN_STACK __attribute__((force_align_arg_pointer))
#else
#define UPD_SHA256_ALIGN_STACK
#endif

// Only 128-bit instructions that 32-bit code has too. The rounds keep the
// working variables in two registers, A, B, E, F and C, D, G, H from the
// highest lane down; the names below read that way.
__attribute__((target("sha,sse4.1"))) UPD_SHA256_ALIGN_STACK static void
HashBlocksShaExtensions(uint32_t state[8], const unsigned char *blocks, size_t count) {
  // The message words are big-endian.
  const __m128i byte_swap = _mm_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(state)), 0x1B);
  __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(state + 4)), 0x1B);
  __m128i abef = _mm_unpackhi_epi64(efgh, abcd);
  __m128i cdgh = _mm_unpacklo_epi64(efgh, abcd);
  for (; count > 0; --count, blocks += kSha256BlockBytes) {
    const __m128i abef_before = abef, cdgh_before = cdgh;
    // The last 16 words of the schedule, four to a register, the earliest in
    // the lowest lane. Each named, not loaded in a loop: an array indexed by
    // a variable would be kept in memory.
    __m128i w[4] = {
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(blocks)), byte_swap),
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(blocks + 16)), byte_swap),
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(blocks + 32)), byte_swap),
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(blocks + 48)), byte_swap),
    };
    // Unrolled, the w[] indices are constants and w stays in registers.
#pragma GCC unroll 16
    for (int group = 0; group < 16; ++group) {
      __m128i &words = w[group % 4];
      if (group >= 4) {
        // Words t to t + 3 from the 16 before them: msg1 adds sigma0 of
        // word t - 15 to word t - 16, then come words t - 7, and msg2 adds
        // sigma1 of word t - 2, which for t + 2 and t + 3 it has just made.
        __m128i sum = _mm_add_epi32(_mm_sha256msg1_epu32(words, w[(group + 1) % 4]),
                                    _mm_alignr_epi8(w[(group + 3) % 4], w[(group + 2) % 4], 4));
        words = _mm_sha256msg2_epu32(sum, w[(group + 3) % 4]);
      }
      __m128i wk =
          _mm_add_epi32(words, _mm_loadu_si128(reinterpret_cast<const __m128i *>(kRoundConstants + 4 * group)));
      // Two rounds give the new A, B, E, F; the old ones are then C, D, G, H.
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
    }
    abef = _mm_add_epi32(abef, abef_before);
    cdgh = _mm_add_epi32(cdgh, cdgh_before);
  }
  abcd = _mm_unpackhi_epi64(cdgh, abef);
  efgh = _mm_unpacklo_epi64(cdgh, abef);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(state), _mm_shuffle_epi32(abcd, 0x1B));
  _mm_storeu_si128(reinterpret_cast<__m128i *>(state + 4), _mm_shuffle_epi32(efgh, 0x1B));
}

// The SHA extensions, and SSSE3 and SSE4.1 for the shuffles around them.
static bool HasShaExtensions() {
  unsigned eax, ebx, ecx, edx;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
    return false;
  const unsigned kSsse3 = 1u << 9, kSse41 = 1u << 19, kSha = 1u << 29;
  if ((ecx & kSsse3) == 0 || (ecx & kSse41) == 0)
    return false;
  // 0 when the processor has no leaf 7.
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
    return false;
  return (ebx & kSha) != 0;
}
#endif

// Whether blocks hashes "abc" to its FIPS 180-4 digest. The SHA extensions'
// path is taken only after it has, once: a build whose 32-bit form could not
// be run where it was made still never installs a wrong hash's verdict.
static bool HashesTheFipsExample(Sha256Blocks *blocks) {
  static const uint32_t kAbcDigest[8] = {0xba7816bf, 0x8f01cfea, 0x414140de, 0x5dae2223,
                                         0xb00361a3, 0x96177a9c, 0xb410ff61, 0xf20015ad};
  unsigned char block[kSha256BlockBytes] = {'a', 'b', 'c', 0x80};
  block[kSha256BlockBytes - 1] = 24; // the length in bits
  uint32_t state[8];
  std::memcpy(state, kInitialState, sizeof state);
  blocks(state, block, 1);
  return std::memcmp(state, kAbcDigest, sizeof state) == 0;
}

static Sha256Blocks *FastestSha256Blocks() {
#ifdef UPD_SHA256_X86
  if (HasShaExtensions() && HashesTheFipsExample(HashBlocksShaExtensions))
    return HashBlocksShaExtensions;
#endif
  return HashBlocksPortable;
}

static Sha256Blocks *Sha256BlocksInUse() {
  Sha256Blocks *blocks = sSha256Blocks.load(std::memory_order_relaxed);
  if (blocks == nullptr) {
    blocks = FastestSha256Blocks();
    sSha256Blocks.store(blocks, std::memory_order_relaxed);
  }
  return blocks;
}

void UseSha256Portable(bool portable) {
  sSha256Blocks.store(portable ? HashBlocksPortable : FastestSha256Blocks(), std::memory_order_relaxed);
}

bool Sha256UsesShaExtensions() { return Sha256BlocksInUse() != HashBlocksPortable; }

void InitSha256(Sha256 *sha) {
  std::memcpy(sha->state, kInitialState, sizeof sha->state);
  sha->total_bytes = 0;
  sha->buffered = 0;
}

void UpdateSha256(Sha256 *sha, const unsigned char *bytes, size_t count) {
  if (count == 0)
    return; // bytes may be nullptr, which memcpy must not see
  sha->total_bytes += count;
  Sha256Blocks *hash_blocks = Sha256BlocksInUse();
  if (sha->buffered > 0) {
    size_t taken = kSha256BlockBytes - sha->buffered;
    if (taken > count)
      taken = count;
    std::memcpy(sha->block + sha->buffered, bytes, taken);
    sha->buffered += taken;
    bytes += taken;
    count -= taken;
    if (sha->buffered < kSha256BlockBytes)
      return;
    hash_blocks(sha->state, sha->block, 1);
    sha->buffered = 0;
  }
  // Whole blocks straight from the caller's bytes: one call, so that the
  // state stays in registers across them.
  size_t whole = count / kSha256BlockBytes;
  if (whole > 0) {
    hash_blocks(sha->state, bytes, whole);
    bytes += whole * kSha256BlockBytes;
    count -= whole * kSha256BlockBytes;
  }
  if (count > 0) {
    std::memcpy(sha->block, bytes, count);
    sha->buffered = count;
  }
}

void FinishSha256(Sha256 *sha, unsigned char digest[kSha256DigestBytes]) {
  // The message ends with a 1 bit, zeros and its length in bits, 64-bit
  // big-endian, at the end of a block: one more block when fewer than 9
  // bytes are left in this one.
  unsigned char tail[2 * kSha256BlockBytes] = {};
  std::memcpy(tail, sha->block, sha->buffered);
  tail[sha->buffered] = 0x80;
  size_t tail_bytes = sha->buffered < kSha256BlockBytes - 8 ? kSha256BlockBytes : 2 * kSha256BlockBytes;
  uint64_t bits = sha->total_bytes * 8; // modulo 2^64, as the length is defined
  for (int i = 0; i < 8; ++i)
    tail[tail_bytes - 1 - static_cast<size_t>(i)] = static_cast<unsigned char>(bits >> (8 * i));
  Sha256BlocksInUse()(sha->state, tail, tail_bytes / kSha256BlockBytes);
  for (int i = 0; i < 8; ++i)
    StoreBigEndian32(digest + 4 * i, sha->state[i]);
}

void HashSha256(const unsigned char *bytes, size_t count, unsigned char digest[kSha256DigestBytes]) {
  Sha256 sha;
  InitSha256(&sha);
  UpdateSha256(&sha, bytes, count);
  FinishSha256(&sha, digest);
}
