// SHA-256, our own, for checking signed packages: one call over a whole
// buffer, or a running hash fed piece by piece. Portable; on x86 the blocks
// go through the processor's SHA extensions where it has them.
#pragma once
#include <cstddef>
#include <cstdint>

enum {
  kSha256DigestBytes = 32,
  kSha256BlockBytes = 64,
};

// A running hash: its digest equals HashSha256 over all the pieces joined,
// however they were split.
struct Sha256 {
  uint32_t state[8];
  uint64_t total_bytes;                   // fed so far; the padding ends with it in bits
  unsigned char block[kSha256BlockBytes]; // the start of a block not yet hashed
  size_t buffered;                        // bytes of it in use, below kSha256BlockBytes
};

void InitSha256(Sha256 *sha);
// bytes may be nullptr when count is 0.
void UpdateSha256(Sha256 *sha, const unsigned char *bytes, size_t count);
// Ends the hash: InitSha256 again before feeding it anything else.
void FinishSha256(Sha256 *sha, unsigned char digest[kSha256DigestBytes]);

void HashSha256(const unsigned char *bytes, size_t count, unsigned char digest[kSha256DigestBytes]);

// For tests, so that both block functions can be checked on a processor with
// the SHA extensions: true hashes every later block with the portable
// function, false goes back to the fastest one the processor has.
void UseSha256Portable(bool portable);
// Whether blocks go through the SHA extensions now.
bool Sha256UsesShaExtensions();
