// Bounded text helpers shared by every part of the program.
#include "common/text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/cp932.h"

int CopyText(char *dest, size_t capacity, const char *source) {
  if (capacity == 0)
    return -1;
  size_t length = std::strlen(source);
  if (length >= capacity) {
    dest[0] = '\0';
    return -1;
  }
  std::memcpy(dest, source, length + 1);
  return 0;
}

int AppendText(char *dest, size_t capacity, const char *source) {
  size_t used = std::strlen(dest);
  size_t length = std::strlen(source);
  if (used + length >= capacity)
    return -1;
  std::memcpy(dest + used, source, length + 1);
  return 0;
}

int FormatText(char *dest, size_t capacity, const char *format, ...) {
  if (capacity == 0)
    return -1;
  va_list args;
  va_start(args, format);
  int written = std::vsnprintf(dest, capacity, format, args);
  va_end(args);
  if (written < 0) {
    dest[0] = '\0';
    return -1;
  }
  return static_cast<size_t>(written) < capacity ? 0 : -1;
}

int JoinPath(char *dest, size_t capacity, const char *folder, const char *name) {
  if (CopyText(dest, capacity, folder) != 0)
    return -1;
  if (!EndsWithSeparator(dest) && AppendText(dest, capacity, "\\") != 0) {
    dest[0] = '\0';
    return -1;
  }
  if (AppendText(dest, capacity, name) != 0) {
    dest[0] = '\0';
    return -1;
  }
  return 0;
}
