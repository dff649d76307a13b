// Code-page-932-aware separator search.
#include "common/cp932.h"

#include <cstring>

bool IsLeadByte932(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

bool IsTrailByte932(unsigned char byte) { return byte >= 0x40 && byte <= 0xFC && byte != 0x7F; }

long FindLastSeparator(const char *text) {
  long last = -1;
  for (long i = 0; text[i] != '\0'; ++i) {
    unsigned char byte = static_cast<unsigned char>(text[i]);
    if (IsLeadByte932(byte)) {
      // Step over the trail byte, but never past the terminator.
      if (text[i + 1] == '\0')
        break;
      ++i;
    } else if (byte == '\\') {
      last = i;
    }
  }
  return last;
}

bool EndsWithSeparator(const char *text) {
  size_t length = std::strlen(text);
  return length > 0 && FindLastSeparator(text) == static_cast<long>(length) - 1;
}
