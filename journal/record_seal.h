// What makes a run record this program's own: a key of this machine, kept
// in the registry under HKEY_LOCAL_MACHINE where only administrators and
// SYSTEM may read it, seals every record with HMAC-SHA256 (the system's
// bcrypt); and the runs under way are named there too, so that a record
// whose run has settled is never obeyed again, even when its file stays.
#pragma once
#include <windows.h>

#include "journal/run_record_format.h"

// The seal with this machine's key. With create, a missing key is made (a
// run about to write a record); without, a machine that has none yet has
// written no record. false when there is no key or bcrypt fails.
bool LoadRecordSeal(bool create, RecordSeal *seal);

// A new random run id. false when the system gives no random bytes.
bool NewRunId(unsigned char id[kRunIdBytes]);

enum RunStanding {
  kRunNotUnderWay, // never started here, or settled: its record is not obeyed
  kRunUnderWay,
  kRunAbandoned, // failed past its commit point: undone, never completed
};

// Notes the run as under way or abandoned, flushed to the disk. false when
// it could not be noted.
bool NoteRunStanding(const unsigned char id[kRunIdBytes], RunStanding standing);
RunStanding RunStandingOf(const unsigned char id[kRunIdBytes]);

// The registry key and the SDDL of its access rights, for tests.
extern const char kRecordSealKey[];
extern const char kRecordSealAccess[];
