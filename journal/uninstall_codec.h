// The uninstall list in memory and its byte format: each entry is a kind byte,
// the path and a zero byte; an empty entry (one zero byte) ends the list.
// An index over the entry texts keeps the duplicate test constant-time, so
// loading and extending a list of tens of thousands of entries stays linear.
#pragma once
#include <cstddef>
#include <cstdint>

#include "common/file_names.h" // kUninstallFileName

// The start of the name of the temporary file a new list is written to
// beside the list (a hexadecimal number and ".tmp" follow).
extern const char kListTemporaryPrefix[]; // "uin"

// True for a name the list's temporary file can have, compared as Windows
// compares names: the prefix, one to five characters, ".tmp"; no folder.
bool IsListTemporaryName(const char *name, size_t length);

struct UninstallEntry {
  char *text;    // kind letter followed by the path; zero-terminated heap copy
  size_t length; // bytes of text without the terminator
  uint32_t hash; // of the text's bytes, kept for the index
};

// Entries in the order they were added, no two with equal text. All fields
// zero is an empty list.
struct UninstallEntries {
  UninstallEntry *entries;
  int32_t count;
  int32_t capacity;
  int32_t *slots;      // open-addressed index of entry numbers, -1 when free
  uint32_t slot_count; // a power of two, at least twice count
};

// Appends the kind text followed by the path unless an entry with the same
// bytes is there. 1 when added, 0 when already listed, -1 when no memory is
// left or the list is full (the list is unchanged then).
int AddEntryText(UninstallEntries *list, const char *kind, const char *path);

// Adds the entries of a file's bytes: any non-zero byte is a kind, the path
// runs to the next zero byte or the end of the bytes, and the first empty
// entry ends the list (what follows it is ignored). 0, or -1 when an entry
// could not be added.
int ParseUninstallBytes(UninstallEntries *list, const char *bytes, size_t size);

// Takes count bytes; 0 when all were written, -1 otherwise.
typedef int (*ByteSink)(void *context, const void *bytes, size_t count);

// Writes every entry with its zero byte (one call per entry), then the end
// marker. 0, or -1 at the first short write.
int WriteUninstallEntries(const UninstallEntries *list, ByteSink sink, void *context);

// Frees every entry and the index; the list is empty afterwards.
void ClearUninstallEntries(UninstallEntries *list);
