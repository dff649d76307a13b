// The publisher's key in a copy of update.exe: written into the slot the
// program reserves for it, so that a publisher needs no toolchain. Only the
// slot's bytes change, and the checksum of the program's header when it has
// one; a program that already carries a code-signing signature is refused,
// since writing the key would break that signature.
#pragma once
#include <string>
#include <vector>

#include "archive/package_signature.h"

enum BrandError {
  kBrandOk,
  kBrandNotProgram, // not a Windows program file
  kBrandNoSlot,     // a program without the slot (not update.exe)
  kBrandManySlots,  // the marker more than once: which one is the slot is unclear
  kBrandSigned,     // carries a code-signing signature already
};

const char *DescribeBrandError(BrandError error);

// Where the key's bytes lie in the program file's bytes, or why not.
BrandError FindKeySlot(const std::string &program, size_t *key_at);

// The key the program carries; false in *carries when its slot is empty.
BrandError ReadProgramKey(const std::string &program, unsigned char key[kPublisherKeyBytes], bool *carries);

// Writes key into the program's slot and sets its header checksum again
// when it has one.
BrandError BrandProgram(std::string *program, const unsigned char key[kPublisherKeyBytes]);

// The whole file; false when it can't be read.
bool ReadProgramFile(const std::string &path, std::string *bytes);

// mkupdate brand PROGRAM NAME.pub -o OUTPUT, or brand --show PROGRAM: args
// are what follows "brand". The exit status.
int RunBrand(const std::vector<std::string> &args);
