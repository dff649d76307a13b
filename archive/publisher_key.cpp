// The slot that holds the publisher's key in the program file: the marker,
// then 65 bytes that are zero until the package builder writes a key there.
#include "archive/publisher_key.h"

// Volatile, so that the compiler reads the bytes the file holds instead of
// folding in the zeros it was built with; used, so that the linker keeps it.
extern "C" __attribute__((used)) volatile const unsigned char kPublisherKeySlot[kKeySlotBytes] =
    PUBLISHER_KEY_SLOT_MARKER;

bool GetPublisherKey(unsigned char key[kPublisherKeyBytes]) {
  for (int i = 0; i < kPublisherKeyBytes; ++i)
    key[i] = kPublisherKeySlot[kKeySlotMarkerBytes + i];
  // An uncompressed point begins with 4; the empty slot with 0.
  return key[0] == 4;
}
