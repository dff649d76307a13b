// Encoding and decoding of run record bytes.
#include "journal/run_record_format.h"

#include <cstring>
#include <vector>

#include "common/cp932.h"
#include "common/name_fold.h"

const char kRunRecordMagic[] = "UPDRUN3\n";

static bool IsKnownKind(char kind) {
  switch (kind) {
  case kRecordDirectory:
  case kRecordCreating:
  case kRecordCreated:
  case kRecordReplacing:
  case kRecordListTemp:
  case kRecordCommit:
  case kRecordAbandon:
  case kRecordPreviousList:
  case kRecordBatchStart:
  case kRecordBatchEnd:
  case kRecordPlanEnd:
    return true;
  }
  return false;
}

static bool KindNeedsPath(char kind) {
  return kind != kRecordAbandon && kind != kRecordBatchStart && kind != kRecordBatchEnd && kind != kRecordPlanEnd;
}

std::string NormalFolderForm(const char *folder) {
  std::string normal;
  bool after_separator = false;
  for (size_t i = 0; folder[i] != '\0'; ++i) {
    if (IsLeadByte932(static_cast<unsigned char>(folder[i])) && folder[i + 1] != '\0') {
      normal.append(folder + i, 2); // a trail byte 0x5C is no separator
      ++i;
      after_separator = false;
    } else if (folder[i] != '\\' || !after_separator) {
      normal += folder[i];
      after_separator = folder[i] == '\\';
    }
  }
  // A separator at the end is no part of the folder's name.
  if (after_separator && normal.size() > 1)
    normal.pop_back();
  return FoldNameCase(normal.c_str());
}

// The header's tag: over its magic and run id, and the folder's normal form.
static void HeaderTag(const unsigned char *header, const char *folder, const RecordSeal &seal,
                      unsigned char tag[kRecordTagBytes]) {
  std::string bound(reinterpret_cast<const char *>(header), kRunRecordMagicBytes + kRunIdBytes);
  bound += NormalFolderForm(folder);
  unsigned char zero[kRecordTagBytes] = {};
  seal.tag(seal.context, zero, reinterpret_cast<const unsigned char *>(bound.data()), bound.size(), tag);
}

void EncodeRunRecordHeader(const unsigned char run_id[kRunIdBytes], const char *folder, const RecordSeal &seal,
                           unsigned char out[kRunRecordHeaderBytes], unsigned char chain[kRecordTagBytes]) {
  std::memcpy(out, kRunRecordMagic, kRunRecordMagicBytes);
  std::memcpy(out + kRunRecordMagicBytes, run_id, kRunIdBytes);
  HeaderTag(out, folder, seal, chain);
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

// Every byte compared, so that the time taken says nothing of where a
// forged tag first differs.
bool SameTag(const unsigned char *expected, const unsigned char *tag) {
  unsigned char differs = 0;
  for (size_t i = 0; i < kRecordTagBytes; ++i)
    differs |= static_cast<unsigned char>(expected[i] ^ tag[i]);
  return differs == 0;
}

bool TagHolds(const RecordSeal *seal, const unsigned char *chain, const unsigned char *bytes, size_t count,
              const unsigned char *tag) {
  if (seal == nullptr)
    return true;
  unsigned char expected[kRecordTagBytes];
  seal->tag(seal->context, chain, bytes, count, expected);
  return SameTag(expected, tag);
}

// The header's run and chain in state, once its magic and tag hold.
bool ReadHeader(const unsigned char *bytes, const char *folder, const RecordSeal *seal, RunRecordState *state) {
  if (std::memcmp(bytes, kRunRecordMagic, kRunRecordMagicBytes) != 0)
    return false;
  const unsigned char *header_tag = bytes + kRunRecordMagicBytes + kRunIdBytes;
  if (seal != nullptr) {
    unsigned char expected[kRecordTagBytes];
    HeaderTag(bytes, folder, *seal, expected);
    if (!SameTag(expected, header_tag))
      return false;
  }
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
    // A complete batch names all that was left, as the plan named all to come.
    if (span.kind == kRecordPlanEnd || span.kind == kRecordBatchEnd)
      state->plan_whole = true;
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
    if (span.kind == kRecordBatchStart || span.kind == kRecordBatchEnd || span.kind == kRecordPlanEnd)
      continue;
    if (visit(context, span.kind, reinterpret_cast<const char *>(bytes + span.path), span.length) != 0)
      return -1;
  }
  return 0;
}

} // namespace

int ReadRunRecord(const unsigned char *bytes, size_t size, const char *folder, const RecordSeal *seal,
                  RunRecordVisitor visit, void *context, RunRecordState *state) {
  *state = RunRecordState{};
  // A header cut short by a kill (even an empty file): the run had changed
  // nothing yet, since the header is written before the first change.
  if (size < kRunRecordHeaderBytes) {
    size_t magic = size < static_cast<size_t>(kRunRecordMagicBytes) ? size : static_cast<size_t>(kRunRecordMagicBytes);
    return std::memcmp(bytes, kRunRecordMagic, magic) == 0 ? 0 : -1;
  }
  std::vector<RecordSpan> spans;
  if (!ReadHeader(bytes, folder, seal, state) || !CollectSpans(bytes, size, seal, state, &spans))
    return -1;
  return VisitInForce(bytes, spans, visit, context);
}
