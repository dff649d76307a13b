// Settling a run that was interrupted: the next start reads the run record
// it left in the data directory and undoes the run, or completes it when it
// had reached its commit point.
#pragma once
#include <windows.h>

enum RecoveryOutcome {
  kNothingToRecover, // no run record: the last run settled
  kRecoveredRolledBack,
  kRecoveredCompleted,
  kRecoveryFailed, // told in a warning; the record stays for the next start
};

// Settles the run record of DataDirectory under the rollback wait window and
// tells the player in one box what happened. The journal is empty after it.
RecoveryOutcome RecoverInterruptedRun(HINSTANCE instance);
