// The two passes that end a run: undoing the journal after a cancellation or
// a failure, and deleting the backups after success. The next start runs the
// same passes over a run record left by an interrupted run.
#pragma once
#include <cstdint>

#include "common/progress.h"
#include "common/limits.h"

// How an undo treats a replaced file whose backup is missing. In a run the
// backup was made before the record, so its loss is a file not restored. In
// the settling of a run record, which names a file before it is moved, it
// means the move never happened (or was already undone): nothing to do.
enum RollbackMode { kRollbackRun, kRollbackRecord };

// What an undo could not do, for its one warning.
struct RollbackReport {
  int32_t failures;     // deletes and renames that failed
  int32_t backups_left; // originals left under their backup names
  // The first other file not as it was: a created file that is still there,
  // or a replaced file whose backup is gone; empty when there is none.
  char first_unrestored[kPathBytes];
  bool first_is_created; // which of the two first_unrestored is
  // A file the run was about to create that holds bytes, with no record
  // that the run created it: the player's, kept (settling only).
  char first_kept[kPathBytes];
};

// Undoes the file changes, newest record first, so that when two records
// touch one file (a name given twice, or in two spellings) each is undone
// over the state it left: created files are deleted, replaced files get their
// old content (and attributes) back from the backup. Directories stay in a
// run; the settling of a run record removes those it created once empty. A
// file the record names only as about to be created is removed only when it
// is empty (the run's create, its bytes and its record lost to a power cut);
// one with bytes stays. Nothing is done through a link. Pumps the progress
// (if any) before each record. Returns report->failures.
int32_t RollBackJournal(PassProgress *progress, RollbackMode mode, RollbackReport *report);

// True when the journal holds a replaced file, whose backup finishing deletes.
bool JournalHasReplacedFiles();

// Deletes the backups of the files this run replaced, oldest record first,
// each once its new file is on the disk. A read-only backup loses the
// attribute first. Pumps the progress (if any) before every record.
// Returns the number of backups that are still there.
int32_t FinishJournal(PassProgress *progress);
