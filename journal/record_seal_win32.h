// What makes a run record this program's own: a key of this machine, kept
// in the registry under HKEY_LOCAL_MACHINE where only administrators and
// SYSTEM may read it, seals every record with HMAC-SHA256 (the system's
// bcrypt). The runs that settled or were abandoned are noted there too, so
// that a record whose run has settled is never obeyed again, even when its
// file stays. A run with no note is obeyed: under Wine a registry write is
// only on the disk some time later, and a power cut must not make the
// record of an interrupted run count for nothing.
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
  kRunNotNoted = 0,  // under way, or cut short: its record is obeyed
  kRunAbandoned = 1, // failed past its commit point: undone, never completed
  kRunSettled = 2,   // finished or undone: its record is never obeyed again
};

// Notes the run's standing, flushed. false when it could not be noted.
bool NoteRunStanding(const unsigned char id[kRunIdBytes], RunStanding standing);
RunStanding RunStandingOf(const unsigned char id[kRunIdBytes]);

// Forgets the machine key and closes the keyed hash, as at program start.
// Part of ResetProgramState (driver/program_state_win32.h), after the run record
// that holds the seal.
void ResetRecordSealState();

// The registry key and the SDDL of its access rights, for tests.
extern const char kRecordSealKey[];
extern const char kRecordSealAccess[];
