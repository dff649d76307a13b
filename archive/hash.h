// The hash of package data (XXH3-64): one call over a whole buffer, or a
// running hash fed piece by piece, for code that must not see xxhash.h.
// Portable.
#pragma once
#include <cstddef>
#include <cstdint>

enum {
  kDataHasherStateBytes = 576, // XXH3's state; archive/hash.cpp checks it fits
  kDataHasherStateAlign = 64,
};

// A running hash: its digest equals HashBytes over all the pieces joined. Its
// state must stay 64-byte aligned, so keep it on the stack or inside another
// object, never in plain malloc'ed memory.
struct DataHasher {
  alignas(kDataHasherStateAlign) unsigned char state[kDataHasherStateBytes];
};

void InitDataHasher(DataHasher *hasher);
void UpdateDataHasher(DataHasher *hasher, const void *bytes, size_t length);
uint64_t DataHasherDigest(const DataHasher *hasher);

// XXH3-64, seed 0, of length bytes.
uint64_t HashBytes(const void *bytes, size_t length);
