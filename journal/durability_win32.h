// What keeps a run whole across a power cut, where only flushed bytes stay
// and name changes reach the disk in order: the run record names every
// change before the first one is made (one flush), the files the run wrote
// are flushed together before its commit point, and a folder is flushed
// where a name change must be on the disk before the next step.
#pragma once
#include <cstddef>

#include "common/progress.h"

// The plan: before the run changes anything, each change it will make is
// named in the run record, then the record is flushed once. Starting a plan
// forgets the one before.
void StartRunPlan();
int PlanChange(char kind, const char *path);
// A name "uinXXXX.tmp" in folder that no file has now, for the list's files
// beside the list: the number starts from the clock and the process, so
// that two programs rarely meet. 0, or -1 when none is free.
int ChooseListTemporaryName(const char *folder, char *path, size_t capacity);
// Chooses the name of the new uninstall list's temporary file in folder (one
// that does not exist) and names it in the plan.
int PlanListTemporary(const char *folder);
// The plan as at program start: empty, its store freed. Part of
// ResetProgramState (driver/program_state_win32.h).
void ResetRunPlanState();

// A change about to be made (a folder or file created, a file moved to its
// backup): nothing to do when the plan named it, otherwise it is recorded
// and flushed now (a file that appeared during the run, say). 0, or -1 when
// it could not be recorded.
int RecordChange(char kind, const char *path);
// Whether the plan's next change is this one, taken when it is: it stands
// for RecordChange, and tells what the plan saw (a file missing, or one to
// back up whose backup name was free). The run makes its changes in plan
// order, so a planned change is always the next one.
bool TakeNextPlannedChange(char kind, const char *path);

// The temporary file name the plan chose for folder's list; false when none
// was chosen there. The name is handed out once.
bool TakePlannedListTemporary(const char *folder, char *dest, size_t capacity);

// Flushes every file the journal names (created or replaced), pumping before
// each. 0, or -1 with the path of the file that could not be flushed.
int FlushJournalFiles(PassProgress *progress, char *failed, size_t capacity);

// Flushes root and every folder that holds a path of the journal: what a
// rollback, a finishing or a settling did there goes to the disk before the
// run is noted as settled.
void FlushJournalFolders(const char *root);

// Puts the folder's entries (creations, renames, deletions in it) on the
// disk. Best effort: false when the system would not.
bool FlushFolder(const char *folder);
// The same for the folder that holds path.
bool FlushFolderOf(const char *path);
