// The install journal: every directory and file the extraction pass created
// or replaced, in order, so that the run can be undone or finished.
#pragma once
#include <cstddef>
#include <cstdint>

// kJournalMaybeCreated: only when settling a run record, a file the run was
// about to create with no record that the create succeeded: it may be the
// run's (a cut kept the create and lost its record) or the player's.
enum { kJournalReplaced = 1, kJournalCreated = 2, kJournalMaybeCreated = 3 };

struct JournalRecord {
  char kind[2];   // "F" or "D"
  char *path;     // heap copy, owned by the record
  int32_t action; // kJournalReplaced, kJournalCreated or kJournalMaybeCreated
};

// Appends a record with a copy of path. 0, or -1 when no memory is left for
// it (the journal is unchanged then). The store grows as needed, so a run
// may journal more than the 20 000 records a first store holds.
int JournalAppend(const char *kind, const char *path, int32_t action);

int32_t JournalCount();
// Record i (0 <= i < JournalCount()).
const JournalRecord &JournalAt(int32_t i);

// Empties the journal. The program never needs it; tests run many passes in
// one process.
void ResetJournal();

// Refuses appends once the journal holds limit records; a negative limit
// (the default) sets none. Only tests set one: in a run, only exhausted
// memory refuses an append, and the passes must cope with that.
void SetJournalRecordLimit(int32_t limit);

// The journal as at program start: empty, its store freed, no limit. Part of
// ResetPortableState (journal/portable_state.h).
void ResetJournalState();

// Appends "_old" to the path in buffer (room for 260 bytes) and returns
// buffer; nullptr, text unchanged, when the path is 256 bytes or longer.
char *BackupPathOf(char *buffer);

// The backup path of path in buffer (size bytes): path with "_old"
// appended, the one way every pass names a backup. 0, or -1 when path is
// 256 bytes or longer or the result does not fit (buffer is then not a
// backup path).
int BuildBackupPath(char *buffer, size_t size, const char *path);
