// Encoding and decoding of run record bytes.
#include "journal/run_record_format.h"

#include <cstring>

const char kRunRecordFileName[] = "update.run";
const char kRunRecordHeader[] = "UPDRUN1\n";

static bool IsKnownKind(char kind) {
  switch (kind) {
  case kRecordDirectory:
  case kRecordCreated:
  case kRecordReplacing:
  case kRecordListTemp:
  case kRecordCommit:
  case kRecordAbandon:
    return true;
  }
  return false;
}

static bool KindNeedsPath(char kind) { return kind != kRecordAbandon; }

size_t EncodeRunRecord(char kind, const char *path, unsigned char *out, size_t capacity) {
  size_t length = std::strlen(path);
  if (!IsKnownKind(kind) || (KindNeedsPath(kind) && length == 0) || capacity < length + 2)
    return 0;
  out[0] = static_cast<unsigned char>(kind);
  std::memcpy(out + 1, path, length + 1);
  return length + 2;
}

int ReadRunRecord(const unsigned char *bytes, size_t size, RunRecordVisitor visit, void *context) {
  // A header cut short by a kill (even an empty file): the run had changed
  // nothing yet, since the header is written before the first change.
  if (size < kRunRecordHeaderBytes)
    return std::memcmp(bytes, kRunRecordHeader, size) == 0 ? 0 : -1;
  if (std::memcmp(bytes, kRunRecordHeader, kRunRecordHeaderBytes) != 0)
    return -1;
  size_t cursor = kRunRecordHeaderBytes;
  while (cursor < size) {
    const unsigned char *end = static_cast<const unsigned char *>(std::memchr(bytes + cursor, '\0', size - cursor));
    if (end == nullptr)
      return 0; // cut short by a kill: that record was never complete
    char kind = static_cast<char>(bytes[cursor]);
    const char *path = reinterpret_cast<const char *>(bytes + cursor + 1);
    size_t path_length = static_cast<size_t>(end - bytes) - cursor - 1;
    if (!IsKnownKind(kind) || (KindNeedsPath(kind) && path_length == 0))
      return -1;
    if (visit(context, kind, path, path_length) != 0)
      return -1;
    cursor = static_cast<size_t>(end - bytes) + 1;
  }
  return 0;
}
