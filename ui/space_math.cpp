// Destination rules and space figures of the confirmation dialog.
#include "ui/space_math.h"

#include <cstring>

#include "common/text.h"

const char kDestinationTooDeepNote[] = "インストール先が深すぎます";

static bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool IsDestinationTooLong(const char *path) { return std::strlen(path) > kLongestDestination; }

bool HasDriveLetterForm(const char *path) { return IsAsciiLetter(path[0]) && path[1] == ':'; }

bool HasFullDriveForm(const char *path) { return HasDriveLetterForm(path) && path[2] == '\\'; }

DestinationKind ClassifyDestination(const char *target) {
  if (IsDestinationTooLong(target))
    return kDestinationTooLong;
  if (HasDriveLetterForm(target))
    return kDestinationOnDrive;
  return kDestinationOther;
}

uint32_t RequiredMiB(int64_t archive_size_kib) {
  const int64_t kExtraMiB = 4;
  if (archive_size_kib < 0)
    archive_size_kib = 0;
  int64_t package_mib = archive_size_kib / 1024 + (archive_size_kib % 1024 != 0 ? 1 : 0);
  int64_t required = package_mib + kExtraMiB;
  return required > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(required);
}

uint32_t BytesToMiB(uint64_t bytes) {
  uint64_t mib = bytes >> 20;
  return mib > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(mib);
}

int FormatSpaceText(char *dest, size_t capacity, uint32_t required_mib, uint32_t free_mib) {
  return FormatText(dest, capacity, "HDD要:%uM HDD空き:%uM", static_cast<unsigned>(required_mib),
                    static_cast<unsigned>(free_mib));
}
