// The reset of every portable module that keeps process-wide state.
#include "journal/portable_state.h"

#include "common/run_state.h"
#include "journal/journal.h"

void ResetPortableState() {
  ResetRunState();
  ResetJournalState();
}
