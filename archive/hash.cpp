// XXH3-64 from Debian's libxxhash-dev, compiled in here header-only: the
// Windows build has no library to link, and no other file includes xxhash.h.
#include "archive/hash.h"

#include <new>

#define XXH_INLINE_ALL
#include <xxhash.h>

static_assert(sizeof(XXH3_state_t) <= kDataHasherStateBytes, "DataHasher too small for XXH3's state");
static_assert(alignof(XXH3_state_t) <= kDataHasherStateAlign, "DataHasher less aligned than XXH3's state");

static XXH3_state_t *StateOf(DataHasher *hasher) {
  return std::launder(reinterpret_cast<XXH3_state_t *>(hasher->state));
}

static const XXH3_state_t *StateOf(const DataHasher *hasher) {
  return std::launder(reinterpret_cast<const XXH3_state_t *>(hasher->state));
}

void InitDataHasher(DataHasher *hasher) {
  XXH3_state_t *state = new (hasher->state) XXH3_state_t(); // zeroed; reset sets the rest
  XXH3_64bits_reset(state);
}

void UpdateDataHasher(DataHasher *hasher, const void *bytes, size_t length) {
  if (length > 0)
    XXH3_64bits_update(StateOf(hasher), bytes, length);
}

uint64_t DataHasherDigest(const DataHasher *hasher) { return XXH3_64bits_digest(StateOf(hasher)); }

uint64_t HashBytes(const void *bytes, size_t length) {
  // XXH3 reads nothing when length is 0, but a null pointer is still best kept from it.
  static const unsigned char kNothing = 0;
  return XXH3_64bits(length > 0 ? bytes : &kNothing, length);
}
