// Finding the key slot in a program file and writing the key into it.
#include "tools/mkupdate/brand.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "archive/package_format.h"
#include "tools/mkupdate/keys.h"
#include "tools/mkupdate/package_builder.h"

// Offsets in a Windows program file's headers.
enum {
  kNewHeaderPointerAt = 0x3C,
  kCoffHeaderBytes = 20,
  kOptionalMagicPe32 = 0x10B,
  kOptionalMagicPe32Plus = 0x20B,
  kChecksumAt = 64, // in the optional header, both kinds
  kCertificateEntry = 4,
};

const char *DescribeBrandError(BrandError error) {
  switch (error) {
  case kBrandOk:
    return "ok";
  case kBrandNotProgram:
    return "not a Windows program file";
  case kBrandNoSlot:
    return "the program has no place for a publisher's key (is it update.exe?)";
  case kBrandManySlots:
    return "the program has more than one place that looks like the key's";
  case kBrandSigned:
    return "the program already carries a code-signing signature, which a key written into it would break: "
           "brand the program as it was built, then sign the copy";
  }
  return "unknown error";
}

static uint32_t Le16(const std::string &bytes, size_t at) {
  return static_cast<unsigned char>(bytes[at]) | static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8;
}

static uint32_t Le32At(const std::string &bytes, size_t at) {
  return ReadLe32(reinterpret_cast<const unsigned char *>(bytes.data() + at));
}

// The place of the optional header's checksum and of the certificate
// table's size; false when program is no program file.
static bool FindHeaderFields(const std::string &program, size_t *checksum_at, uint32_t *certificate_bytes) {
  if (program.size() < kNewHeaderPointerAt + 4 || program.compare(0, 2, "MZ") != 0)
    return false;
  size_t pe = Le32At(program, kNewHeaderPointerAt);
  size_t optional = pe + 4 + kCoffHeaderBytes;
  if (pe > program.size() || program.size() - pe < 4 + kCoffHeaderBytes + 2 || program.compare(pe, 4, "PE\0\0", 4))
    return false;
  uint32_t magic = Le16(program, optional);
  if (magic != kOptionalMagicPe32 && magic != kOptionalMagicPe32Plus)
    return false;
  // The data directories follow the fixed fields, after their count.
  size_t count_at = optional + (magic == kOptionalMagicPe32 ? 92 : 108);
  if (program.size() < count_at + 4)
    return false;
  uint32_t directories = Le32At(program, count_at);
  size_t certificate_at = count_at + 4 + 8 * kCertificateEntry;
  *checksum_at = optional + kChecksumAt;
  *certificate_bytes = 0;
  if (directories > kCertificateEntry) {
    if (program.size() < certificate_at + 8)
      return false;
    *certificate_bytes = Le32At(program, certificate_at + 4);
  }
  return true;
}

// The header checksum: the file's 16-bit words summed with their carries
// folded back in, the checksum field counted as zero, plus the file's length.
static uint32_t ProgramChecksum(const std::string &program, size_t checksum_at) {
  uint64_t sum = 0;
  for (size_t at = 0; at < program.size(); at += 2) {
    if (at >= checksum_at && at < checksum_at + 4)
      continue;
    uint32_t word = static_cast<unsigned char>(program[at]);
    if (at + 1 < program.size())
      word |= static_cast<uint32_t>(static_cast<unsigned char>(program[at + 1])) << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + program.size());
}

// The marker is kept here masked, and unmasked through a volatile byte the
// compiler can't fold: mkupdate.exe must hold no slot of its own for brand
// to find in it.
struct MaskedMarker {
  char bytes[kKeySlotMarkerBytes];
};
static const unsigned char kMarkerMask = 0x5A;
static volatile unsigned char sMarkerMask = kMarkerMask;

static constexpr MaskedMarker Mask(const char (&marker)[kKeySlotMarkerBytes + 1]) {
  MaskedMarker masked{};
  for (size_t i = 0; i < kKeySlotMarkerBytes; ++i)
    masked.bytes[i] = static_cast<char>(marker[i] ^ kMarkerMask);
  return masked;
}

static constexpr MaskedMarker kMaskedMarker = Mask(PUBLISHER_KEY_SLOT_MARKER);

static std::string SlotMarker() {
  std::string marker(kKeySlotMarkerBytes, '\0');
  for (size_t i = 0; i < kKeySlotMarkerBytes; ++i)
    marker[i] = static_cast<char>(kMaskedMarker.bytes[i] ^ sMarkerMask);
  return marker;
}

BrandError FindKeySlot(const std::string &program, size_t *key_at) {
  size_t checksum_at = 0;
  uint32_t certificate_bytes = 0;
  if (!FindHeaderFields(program, &checksum_at, &certificate_bytes))
    return kBrandNotProgram;
  const std::string marker = SlotMarker();
  size_t found = program.find(marker);
  if (found == std::string::npos || program.size() - found < kKeySlotBytes)
    return kBrandNoSlot;
  if (program.find(marker, found + 1) != std::string::npos)
    return kBrandManySlots;
  *key_at = found + kKeySlotMarkerBytes;
  return kBrandOk;
}

BrandError ReadProgramKey(const std::string &program, unsigned char key[kPublisherKeyBytes], bool *carries) {
  size_t key_at = 0;
  BrandError error = FindKeySlot(program, &key_at);
  if (error != kBrandOk)
    return error;
  std::memcpy(key, program.data() + key_at, kPublisherKeyBytes);
  *carries = key[0] == 4;
  return kBrandOk;
}

BrandError BrandProgram(std::string *program, const unsigned char key[kPublisherKeyBytes]) {
  size_t key_at = 0, checksum_at = 0;
  uint32_t certificate_bytes = 0;
  BrandError error = FindKeySlot(*program, &key_at);
  if (error != kBrandOk)
    return error;
  FindHeaderFields(*program, &checksum_at, &certificate_bytes);
  if (certificate_bytes != 0)
    return kBrandSigned;
  std::memcpy(&(*program)[key_at], key, kPublisherKeyBytes);
  // A checksum of zero is one the linker did not write: none is checked.
  if (Le32At(*program, checksum_at) != 0)
    WriteLe32(reinterpret_cast<unsigned char *>(&(*program)[checksum_at]), ProgramChecksum(*program, checksum_at));
  return kBrandOk;
}

bool ReadProgramFile(const std::string &path, std::string *bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Writes OUTPUT.part and renames it over OUTPUT: a failed write leaves no
// half program under the name.
static bool WriteWholeFile(const std::string &path, const std::string &bytes) {
  std::string part = path + ".part";
  FILE *out = std::fopen(part.c_str(), "wb");
  bool written = out && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  if (out && std::fclose(out) != 0)
    written = false;
  std::remove(path.c_str()); // a rename over an existing file fails on Windows
  if (written && std::rename(part.c_str(), path.c_str()) == 0)
    return true;
  std::remove(part.c_str());
  return false;
}

static int BrandFailed(const std::string &path, const std::string &why) {
  std::fprintf(stderr, "mkupdate: %s: %s\n", path.c_str(), why.c_str());
  return 1;
}

static int ShowProgramKey(const std::string &path) {
  std::string program;
  if (!ReadProgramFile(path, &program))
    return BrandFailed(path, "cannot read it");
  unsigned char key[kPublisherKeyBytes];
  bool carries = false;
  BrandError error = ReadProgramKey(program, key, &carries);
  if (error != kBrandOk)
    return BrandFailed(path, DescribeBrandError(error));
  if (carries)
    std::printf("%s: carries the publisher key %s: installs only packages signed with it\n", path.c_str(),
                KeyFingerprint(key).c_str());
  else
    std::printf("%s: carries no publisher key: installs unsigned packages\n", path.c_str());
  return 0;
}

int RunBrand(const std::vector<std::string> &args) {
  if (args.size() == 2 && args[0] == "--show")
    return ShowProgramKey(args[1]);
  if (args.size() != 4 || args[2] != "-o") {
    std::fputs("mkupdate: brand needs PROGRAM NAME.pub -o OUTPUT, or --show PROGRAM\n", stderr);
    return 2;
  }
  const std::string &input = args[0], &key_path = args[1], &output = args[3];
  unsigned char key[kPublisherKeyBytes];
  std::string error, program;
  if (!ReadPublicKeyFile(key_path, key, &error))
    return BrandFailed(key_path, error);
  if (!ReadProgramFile(input, &program))
    return BrandFailed(input, "cannot read it");
  BrandError branded = BrandProgram(&program, key);
  if (branded != kBrandOk)
    return BrandFailed(input, DescribeBrandError(branded));
  if (!WriteWholeFile(output, program))
    return BrandFailed(output, "cannot write it (disk full?)");
  std::printf("%s: carries the publisher key %s\nsign this file with your code-signing certificate before you "
              "ship it\n",
              output.c_str(), KeyFingerprint(key).c_str());
  return 0;
}
