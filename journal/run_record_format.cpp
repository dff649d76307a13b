// Encoding and decoding of run record bytes.
#include "journal/run_record_format.h"

#include <cstring>
#include <vector>

const char kRunRecordMagic[] = "UPDRUN2\n";

static bool IsKnownKind(char kind) {
  switch (kind) {
  case kRecordDirectory:
  case kRecordCreated:
  case kRecordReplacing:
  case kRecordListTemp:
  case kRecordCommit:
  case kRecordAbandon:
  case kRecordPreviousList:
  case kRecordBatchStart:
  case kRecordBatchEnd:
    return true;
  }
  return false;
}

static bool KindNeedsPath(char kind) {
  return kind != kRecordAbandon && kind != kRecordBatchStart && kind != kRecordBatchEnd;
}

void EncodeRunRecordHeader(const unsigned char run_id[kRunIdBytes], const RecordSeal &seal,
                           unsigned char out[kRunRecordHeaderBytes], unsigned char chain[kRecordTagBytes]) {
  std::memcpy(out, kRunRecordMagic, kRunRecordMagicBytes);
  std::memcpy(out + kRunRecordMagicBytes, run_id, kRunIdBytes);
  unsigned char zero[kRecordTagBytes] = {};
  seal.tag(seal.context, zero, out, kRunRecordMagicBytes + kRunIdBytes, chain);
  std::memcpy(out + kRunRecordMagicBytes + kRunIdBytes, chain, kRecordTagBytes);
}

size_t EncodeRunRecord(char kind, const char *path, const RecordSeal &seal, unsigned char chain[kRecordTagBytes],
                       unsigned char *out, size_t capacity) {
  size_t length = std::strlen(path);
  if (!IsKnownKind(kind) || (KindNeedsPath(kind) && length == 0) || capacity < length + 2 + kRecordTagBytes)
    return 0;
  out[0] = static_cast<unsigned char>(kind);
  std::memcpy(out + 1, path, length + 1);
  seal.tag(seal.context, chain, out, length + 2, out + length + 2);
  std::memcpy(chain, out + length + 2, kRecordTagBytes);
  return length + 2 + kRecordTagBytes;
}

namespace {

struct RecordSpan {
  char kind;
  size_t path;   // offset of the path
  size_t length; // of the path
};

bool TagHolds(const RecordSeal *seal, const unsigned char *chain, const unsigned char *bytes, size_t count,
              const unsigned char *tag) {
  if (seal == nullptr)
    return true;
  unsigned char expected[kRecordTagBytes];
  seal->tag(seal->context, chain, bytes, count, expected);
  // Every byte compared, so that the time taken says nothing of where a
  // forged tag first differs.
  unsigned char differs = 0;
  for (size_t i = 0; i < kRecordTagBytes; ++i)
    differs |= static_cast<unsigned char>(expected[i] ^ tag[i]);
  return differs == 0;
}

// The header's run and chain in state, once its magic and tag hold.
bool ReadHeader(const unsigned char *bytes, const RecordSeal *seal, RunRecordState *state) {
  if (std::memcmp(bytes, kRunRecordMagic, kRunRecordMagicBytes) != 0)
    return false;
  const unsigned char *header_tag = bytes + kRunRecordMagicBytes + kRunIdBytes;
  unsigned char zero[kRecordTagBytes] = {};
  if (!TagHolds(seal, zero, bytes, kRunRecordMagicBytes + kRunIdBytes, header_tag))
    return false;
  state->has_header = true;
  std::memcpy(state->run_id, bytes + kRunRecordMagicBytes, kRunIdBytes);
  std::memcpy(state->chain, header_tag, kRecordTagBytes);
  state->sealed_end = kRunRecordHeaderBytes;
  return true;
}

// The records after the header that hold, up to the first that is cut
// short or does not; state's chain and end follow them. false for a record
// that holds but is of no known kind, or lacks its path.
bool CollectSpans(const unsigned char *bytes, size_t size, const RecordSeal *seal, RunRecordState *state,
                  std::vector<RecordSpan> *spans) {
  size_t cursor = kRunRecordHeaderBytes;
  while (cursor < size) {
    const void *zero_byte = std::memchr(bytes + cursor, '\0', size - cursor);
    if (zero_byte == nullptr)
      break;
    size_t end = static_cast<size_t>(static_cast<const unsigned char *>(zero_byte) - bytes) + 1;
    if (size - end < kRecordTagBytes || !TagHolds(seal, state->chain, bytes + cursor, end - cursor, bytes + end))
      break;
    RecordSpan span = {static_cast<char>(bytes[cursor]), cursor + 1, end - cursor - 2};
    if (!IsKnownKind(span.kind) || (KindNeedsPath(span.kind) && span.length == 0))
      return false;
    spans->push_back(span);
    std::memcpy(state->chain, bytes + end, kRecordTagBytes);
    cursor = end + kRecordTagBytes;
    state->sealed_end = cursor;
  }
  return true;
}

// Hands visit the records in force: a complete batch replaces what came
// before it; one cut short counts for nothing.
int VisitInForce(const unsigned char *bytes, const std::vector<RecordSpan> &spans, RunRecordVisitor visit,
                 void *context) {
  size_t first = 0, last = spans.size();
  long open_batch = -1;
  for (size_t i = 0; i < spans.size(); ++i) {
    if (spans[i].kind == kRecordBatchStart) {
      open_batch = static_cast<long>(i);
    } else if (spans[i].kind == kRecordBatchEnd && open_batch >= 0) {
      first = static_cast<size_t>(open_batch) + 1;
      open_batch = -1;
    }
  }
  if (open_batch >= 0)
    last = static_cast<size_t>(open_batch);
  for (size_t i = first; i < last; ++i) {
    const RecordSpan &span = spans[i];
    if (span.kind == kRecordBatchStart || span.kind == kRecordBatchEnd)
      continue;
    if (visit(context, span.kind, reinterpret_cast<const char *>(bytes + span.path), span.length) != 0)
      return -1;
  }
  return 0;
}

} // namespace

int ReadRunRecord(const unsigned char *bytes, size_t size, const RecordSeal *seal, RunRecordVisitor visit,
                  void *context, RunRecordState *state) {
  *state = RunRecordState{};
  // A header cut short by a kill (even an empty file): the run had changed
  // nothing yet, since the header is written before the first change.
  if (size < kRunRecordHeaderBytes) {
    size_t magic = size < static_cast<size_t>(kRunRecordMagicBytes) ? size : static_cast<size_t>(kRunRecordMagicBytes);
    return std::memcmp(bytes, kRunRecordMagic, magic) == 0 ? 0 : -1;
  }
  std::vector<RecordSpan> spans;
  if (!ReadHeader(bytes, seal, state) || !CollectSpans(bytes, size, seal, state, &spans))
    return -1;
  return VisitInForce(bytes, spans, visit, context);
}
