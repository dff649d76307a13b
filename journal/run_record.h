// The run record: the journal mirrored in a file of the data directory while
// a run changes it, so that a run cut short by a kill or a power cut is
// settled by the next start. Removed once the run has settled.
#pragma once
#include <cstddef>

#include "journal/run_record_format.h"

// The record's path in folder. 0, or -1 when it does not fit.
int BuildRunRecordPath(char *dest, size_t capacity, const char *folder);

// Starts a new record in folder (an old one there is replaced). 0, or -1
// when it can't be created.
int OpenRunRecord(const char *folder);

// Appends a record. Nothing is flushed: a killed process loses nothing the
// system already has. 0, or -1 when it could not be written. With no record
// open (a pass run on its own) nothing is written and the result is 0.
int AppendRunRecord(char kind, const char *path);

// Puts what was appended on the disk. 0, or -1 when the system failed.
int FlushRunRecord();

// The commit point (the new list complete in temporary) and its retraction:
// both are flushed before the caller goes on.
int RecordCommit(const char *temporary);
int RecordAbandon();

// Closes the record; removes its file (and flushes the folder, so that the
// removal is on the disk) when the run has settled, and keeps it for the
// next start otherwise.
void CloseRunRecord(bool settled);

// Reads the record file at path and hands each record to visit, as
// ReadRunRecord does. 1 when there is none, 0 when read, -1 when it can't be
// read or is not a record this program wrote.
int ReadRunRecordFile(const char *path, RunRecordVisitor visit, void *context);
