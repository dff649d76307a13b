// Fuzz target: uinst.dat bytes. Parsing never reads past the buffer, the
// list holds no duplicates, and writing it out and parsing that again gives
// the same list (a load and save round trip loses nothing).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "journal/uninstall_codec.h"

namespace {

int AppendToString(void *context, const void *bytes, size_t count) {
  static_cast<std::string *>(context)->append(static_cast<const char *>(bytes), count);
  return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  UninstallEntries list = {};
  if (ParseUninstallBytes(&list, reinterpret_cast<const char *>(data), size) != 0)
    std::abort();
  for (int32_t i = 0; i < list.count; ++i) {
    const UninstallEntry &entry = list.entries[i];
    if (entry.length == 0 || std::strlen(entry.text) != entry.length)
      std::abort();
  }
  std::string written;
  if (WriteUninstallEntries(&list, AppendToString, &written) != 0)
    std::abort();
  UninstallEntries again = {};
  if (ParseUninstallBytes(&again, written.data(), written.size()) != 0 || again.count != list.count)
    std::abort();
  for (int32_t i = 0; i < list.count; ++i) {
    if (std::strcmp(list.entries[i].text, again.entries[i].text) != 0)
      std::abort();
    // Adding an entry that is listed changes nothing.
    char kind[2] = {list.entries[i].text[0], '\0'};
    if (AddEntryText(&list, kind, list.entries[i].text + 1) != 0)
      std::abort();
  }
  ClearUninstallEntries(&list);
  ClearUninstallEntries(&again);
  return 0;
}
