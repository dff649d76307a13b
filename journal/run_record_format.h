// The byte format of the run record: what a run changed in the data
// directory, written as it goes, so that the next start can settle a run that
// was interrupted. A header (magic, the run's id, a tag), then records of one
// kind byte, a path relative to the data directory, a zero byte and a tag.
// Each tag is a keyed hash of the tag before it and the record, so that only
// the program that holds the key can write a record the reader accepts, and
// no record can be taken out of the middle, reordered or moved to another
// record file. The header's tag also covers the data directory the record
// is for, in its normal form: a record copied into another folder is no
// record there. A record cut short by a kill, or whose tag does not hold (a
// torn tail after a power cut), ends the record: what came before it stands.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/file_names.h" // kRunRecordFileName, in the data directory

extern const char kRunRecordMagic[]; // "UPDRUN3\n"
enum {
  kRunRecordMagicBytes = 8,
  kRunIdBytes = 16,
  kRecordTagBytes = 32,
  kRunRecordHeaderBytes = kRunRecordMagicBytes + kRunIdBytes + kRecordTagBytes,
};

// Kinds of record.
enum RunRecordKind : char {
  kRecordDirectory = 'D',    // a folder the run creates, written before the create
  kRecordCreating = 'W',     // a file the run is about to create, written before the create
  kRecordCreated = 'C',      // a file the run created, written once the create succeeded
  kRecordReplacing = 'R',    // a file about to be moved to its backup, written before the move
  kRecordListTemp = 'T',     // the temporary file the new uninstall list is written to
  kRecordCommit = 'K',       // the new list is complete in its temporary file: the run completes from here
  kRecordAbandon = 'A',      // the new list could not be put in place: the run is undone after all
  kRecordPreviousList = 'P', // a copy of the list taken before it is rewritten in place
  kRecordBatchStart = 'N',   // what follows up to the batch's end replaces every record before it
  kRecordBatchEnd = 'E',     // the end of such a batch; a batch without one counts for nothing
  kRecordPlanEnd = 'L',      // the plan is whole: every change of the run is named before it
};

// The data directory as the record binds it: letter case folded as Windows
// folds names, separators doubled or at the end dropped, so that another
// spelling of DataDir still settles the record.
std::string NormalFolderForm(const char *folder);

// The keyed hash: out = tag of (previous, bytes).
struct RecordSeal {
  void (*tag)(void *context, const unsigned char previous[kRecordTagBytes], const unsigned char *bytes, size_t count,
              unsigned char out[kRecordTagBytes]);
  void *context;
};

// The header of a new record for the run id in folder: chain is its tag,
// the one the first record's tag is made from.
void EncodeRunRecordHeader(const unsigned char run_id[kRunIdBytes], const char *folder, const RecordSeal &seal,
                           unsigned char out[kRunRecordHeaderBytes], unsigned char chain[kRecordTagBytes]);

// Encodes one record into out (room for 2 + path + tag bytes) and moves
// chain on to its tag; the bytes written, or 0 when the path is empty where
// the kind needs one or there is no room (chain unchanged then).
size_t EncodeRunRecord(char kind, const char *path, const RecordSeal &seal, unsigned char chain[kRecordTagBytes],
                       unsigned char *out, size_t capacity);

// What a record file says, decoded: called once per record in force, in
// order. Returns 0 to go on, non-zero to stop (ReadRunRecord then returns -1).
typedef int (*RunRecordVisitor)(void *context, char kind, const char *path, size_t path_length);

// Where a record file stands after reading it.
struct RunRecordState {
  bool has_header;                      // false: cut inside its header, no records
  bool plan_whole;                      // the plan's end is in force: the record names all the run did
  unsigned char run_id[kRunIdBytes];    // the run's id, when has_header
  size_t sealed_end;                    // bytes up to the end of the last record that holds
  unsigned char chain[kRecordTagBytes]; // the tag there, for a record appended after it
};

// Decodes a record file's bytes, the record of folder. With seal, every tag
// is checked: the header's must hold for folder, and the first record whose tag does not ends the
// record; without seal (a tool that only looks) tags are passed over. 0 when
// the magic and the header's tag hold and every record in force has a known
// kind, or when the file is only the beginning of a header (a kill cut its
// writing: no records); -1 otherwise (a file that is no record, or that this
// program did not write with its key, is never acted on).
int ReadRunRecord(const unsigned char *bytes, size_t size, const char *folder, const RecordSeal *seal,
                  RunRecordVisitor visit, void *context, RunRecordState *state);
