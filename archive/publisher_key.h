// The publisher's public key that this program carries, written into its
// file by the package builder's brand command; an unbranded program carries
// none and installs unsigned packages.
#pragma once

#include "archive/package_signature.h"

// Copies the key into key; false when the program carries none.
bool GetPublisherKey(unsigned char key[kPublisherKeyBytes]);
