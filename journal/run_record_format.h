// The byte format of the run record: what a run changed in the data
// directory, written as it goes, so that the next start can settle a run that
// was interrupted. A header, then records of one kind byte, a path and a zero
// byte. A record cut short by a kill (no zero byte yet) counts as never
// written.
#pragma once
#include <cstddef>
#include <cstdint>

extern const char kRunRecordFileName[]; // "update.run", in the data directory
extern const char kRunRecordHeader[];   // "UPDRUN1\n"
enum { kRunRecordHeaderBytes = 8 };

// Kinds of record.
enum RunRecordKind : char {
  kRecordDirectory = 'D', // a folder the run creates, written before the create
  kRecordCreated = 'C',   // a file the run created, written after the create
  kRecordReplacing = 'R', // a file about to be moved to its backup, written before the move
  kRecordListTemp = 'T',  // the temporary file the new uninstall list is written to
  kRecordCommit = 'K',    // the new list is complete in its temporary file: the run completes from here
  kRecordAbandon = 'A',   // the new list could not be put in place: the run is undone after all
};

// Encodes one record into out (room for 2 + path bytes); the bytes written,
// or 0 when the path is empty where the kind needs one or holds no room.
size_t EncodeRunRecord(char kind, const char *path, unsigned char *out, size_t capacity);

// What a record file says, decoded: called once per whole record in order.
// Returns 0 to go on, non-zero to stop (ReadRunRecord then returns -1).
typedef int (*RunRecordVisitor)(void *context, char kind, const char *path, size_t path_length);

// Decodes a record file's bytes. 0 when the header is right and every
// whole record has a known kind, or when the file is only the beginning of
// the header (a kill cut its writing: no records); -1 otherwise (a file
// that is no record, or that this program did not write, is never acted on).
int ReadRunRecord(const unsigned char *bytes, size_t size, RunRecordVisitor visit, void *context);
