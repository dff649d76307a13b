// The uninstall list codec: entries with a hash index, parsing a file's bytes
// and writing them back.
#include "journal/uninstall_codec.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/name_fold.h"

const char kListTemporaryPrefix[] = "uin";

bool IsListTemporaryName(const char *name, size_t length) {
  const size_t prefix = sizeof kListTemporaryPrefix - 1;
  return length > prefix + 4 && length <= prefix + 9 &&
         FoldNameCase(std::string(name, prefix).c_str()) == FoldNameCase(kListTemporaryPrefix) &&
         FoldNameCase(std::string(name + length - 4, 4).c_str()) == ".TMP" &&
         std::memchr(name, '\\', length) == nullptr;
}

static const int32_t kFirstEntryCapacity = 1024;
static const uint32_t kFirstSlotCount = 2048;
static const int32_t kFreeSlot = -1;

// FNV-1a, continued from hash over the next bytes.
static uint32_t HashBytes(uint32_t hash, const char *bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    hash ^= static_cast<unsigned char>(bytes[i]);
    hash *= 16777619u;
  }
  return hash;
}

static const uint32_t kHashStart = 2166136261u;

static bool GrowEntries(UninstallEntries *list) {
  if (list->count < list->capacity)
    return true;
  if (list->capacity > INT32_MAX / 2)
    return false;
  int32_t capacity = list->capacity == 0 ? kFirstEntryCapacity : list->capacity * 2;
  if (static_cast<size_t>(capacity) > SIZE_MAX / sizeof(UninstallEntry))
    return false;
  void *grown = std::realloc(list->entries, static_cast<size_t>(capacity) * sizeof(UninstallEntry));
  if (grown == nullptr)
    return false;
  list->entries = static_cast<UninstallEntry *>(grown);
  list->capacity = capacity;
  return true;
}

static uint32_t FindFreeSlot(const int32_t *slots, uint32_t slot_count, uint32_t hash) {
  uint32_t mask = slot_count - 1;
  uint32_t i = hash & mask;
  while (slots[i] != kFreeSlot)
    i = (i + 1) & mask;
  return i;
}

// Keeps the index at most half full, so that probes stay short and always end.
static bool GrowIndex(UninstallEntries *list) {
  uint64_t needed = 2 * (static_cast<uint64_t>(list->count) + 1);
  if (list->slot_count >= needed)
    return true;
  uint32_t slot_count = list->slot_count == 0 ? kFirstSlotCount : list->slot_count;
  while (slot_count < needed) {
    if (slot_count > UINT32_MAX / 2)
      return false;
    slot_count *= 2;
  }
  if (slot_count > SIZE_MAX / sizeof(int32_t))
    return false;
  int32_t *slots = static_cast<int32_t *>(std::malloc(static_cast<size_t>(slot_count) * sizeof(int32_t)));
  if (slots == nullptr)
    return false;
  for (uint32_t i = 0; i < slot_count; ++i)
    slots[i] = kFreeSlot;
  for (int32_t n = 0; n < list->count; ++n)
    slots[FindFreeSlot(slots, slot_count, list->entries[n].hash)] = n;
  std::free(list->slots);
  list->slots = slots;
  list->slot_count = slot_count;
  return true;
}

// Slot of the entry equal to kind + path, or of the free slot where it
// belongs; *found tells which.
static uint32_t LookUp(const UninstallEntries *list, const char *kind, size_t kind_length, const char *path,
                       size_t path_length, uint32_t hash, bool *found) {
  uint32_t mask = list->slot_count - 1;
  uint32_t i = hash & mask;
  size_t length = kind_length + path_length;
  for (; list->slots[i] != kFreeSlot; i = (i + 1) & mask) {
    const UninstallEntry &entry = list->entries[list->slots[i]];
    if (entry.hash == hash && entry.length == length && std::memcmp(entry.text, kind, kind_length) == 0 &&
        std::memcmp(entry.text + kind_length, path, path_length) == 0) {
      *found = true;
      return i;
    }
  }
  *found = false;
  return i;
}

static int AddEntryBytes(UninstallEntries *list, const char *kind, size_t kind_length, const char *path,
                         size_t path_length) {
  if (path_length > SIZE_MAX - 1 - kind_length)
    return -1;
  if (!GrowEntries(list) || !GrowIndex(list))
    return -1;
  uint32_t hash = HashBytes(HashBytes(kHashStart, kind, kind_length), path, path_length);
  bool found = false;
  uint32_t slot = LookUp(list, kind, kind_length, path, path_length, hash, &found);
  if (found)
    return 0;
  size_t length = kind_length + path_length;
  char *text = static_cast<char *>(std::malloc(length + 1));
  if (text == nullptr)
    return -1;
  std::memcpy(text, kind, kind_length);
  std::memcpy(text + kind_length, path, path_length);
  text[length] = '\0';
  list->entries[list->count] = UninstallEntry{text, length, hash};
  list->slots[slot] = list->count;
  ++list->count;
  return 1;
}

int AddEntryText(UninstallEntries *list, const char *kind, const char *path) {
  return AddEntryBytes(list, kind, std::strlen(kind), path, std::strlen(path));
}

int ParseUninstallBytes(UninstallEntries *list, const char *bytes, size_t size) {
  size_t cursor = 0;
  while (cursor < size && bytes[cursor] != '\0') {
    const char *path = bytes + cursor + 1;
    size_t room = size - cursor - 1;
    const void *zero = room ? std::memchr(path, '\0', room) : nullptr;
    // A last entry without its zero byte runs to the end of the bytes.
    size_t path_length = zero ? static_cast<size_t>(static_cast<const char *>(zero) - path) : room;
    if (AddEntryBytes(list, bytes + cursor, 1, path, path_length) < 0)
      return -1;
    cursor += 1 + path_length + 1;
  }
  return 0;
}

int WriteUninstallEntries(const UninstallEntries *list, ByteSink sink, void *context) {
  for (int32_t n = 0; n < list->count; ++n) {
    const UninstallEntry &entry = list->entries[n];
    if (sink(context, entry.text, entry.length + 1) != 0)
      return -1;
  }
  static const char kEndMarker = '\0';
  return sink(context, &kEndMarker, 1);
}

void ClearUninstallEntries(UninstallEntries *list) {
  for (int32_t n = 0; n < list->count; ++n)
    std::free(list->entries[n].text);
  std::free(list->entries);
  std::free(list->slots);
  *list = UninstallEntries{};
}
