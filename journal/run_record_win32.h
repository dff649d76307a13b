// The run record: the journal mirrored in a file of the data directory while
// a run changes it, so that a run cut short by a kill or a power cut is
// settled by the next start. Sealed with this machine's key (record_seal.h),
// its paths relative to the data directory. Removed once the run has settled,
// emptied of its records and the run noted as settled first, so that a file
// that stays is never obeyed again.
#pragma once
#include <cstddef>

#include "journal/run_record_format.h"

// The record's path in folder. 0, or -1 when it does not fit.
int BuildRunRecordPath(char *dest, size_t capacity, const char *folder);

// Starts a new record in folder for a new run (an old record there is
// replaced). 0, or -1 when it can't be created.
int OpenRunRecord(const char *folder);

// Appends a record about path, a path inside the record's folder (stored
// relative to it). Nothing is flushed: a killed process loses nothing the
// system already has. 0, or -1 when it could not be written or path lies
// elsewhere. With no record open (a pass run on its own) nothing is written
// and the result is 0.
int AppendRunRecord(char kind, const char *path);

// The commit point (the new list complete in temporary) and its retraction:
// both are flushed before the caller goes on. The abandonment is noted
// beside the record too, so that a record that could not take it is still
// never completed.
int RecordCommit(const char *temporary);

// Marks the plan whole: every change the run will make is named before it.
int RecordPlanWhole();

// Puts what was appended so far on the disk. 0, or -1.
int FlushRunRecord();
int RecordAbandon();

// After an undo that could not restore everything: one batch that names
// only what is still to undo (the folders, created files and backups still
// there, the list's temporary file and its copy), flushed, so that the next
// start touches nothing the undo already put right.
int RecordWhatIsLeft();

// Closes the record. When the run has settled, empties the record, notes
// the run as settled and removes its file; otherwise keeps it for the next
// start.
void CloseRunRecord(bool settled);

enum RecordReading {
  kRecordAbsent,     // no record file
  kRecordRead,       // read; its records went to the visitor
  kRecordUnreadable, // there but can't be opened or read (another program holds it)
  kRecordNotOurs,    // not sealed with this machine's key for this folder: not acted on
  kRecordNotPlain,   // a folder or a link stands at the record's name: no record, never followed
};

// Reads the record file at path and hands each record in force to visit;
// state says where it stands (its run, where an append would go).
RecordReading ReadRunRecordFile(const char *path, RunRecordVisitor visit, void *context, RunRecordState *state);

// Opens the record at folder, read before into state, to append to it: a
// torn tail is cut off first. temporary and previous name the list's files
// it recorded (or are empty), previous_whole whether the copy of the list
// was recorded complete. 0, or -1.
int ReopenRunRecord(const char *folder, const RunRecordState &state, const char *temporary, const char *previous,
                    bool previous_whole);

// Removes a record file; a read-only one loses the attribute first, and one
// that can't be removed is emptied of its records. Only the file: the
// caller has noted its run as settled.
void RemoveRunRecordFile(const char *path);

// The run record as at program start: none open. A record still open is
// closed as a killed run leaves it, neither emptied nor removed. Part of
// ResetProgramState (driver/program_state_win32.h).
void ResetRunRecordState();
