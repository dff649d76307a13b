// The reset of every module that keeps process-wide state.
#include "driver/program_state_win32.h"

#include "archive/extract_win32.h"
#include "archive/loader_win32.h"
#include "common/confined_win32.h"
#include "journal/durability_win32.h"
#include "journal/portable_state.h"
#include "journal/record_seal_win32.h"
#include "journal/run_record_win32.h"
#include "journal/uninstall_list_win32.h"

void ResetProgramState() {
  ResetPortableState();
  ResetLoaderState();
  ResetExtractionState();
  ResetRunPlanState();
  // The record holds the seal: it goes first.
  ResetRunRecordState();
  ResetRecordSealState();
  ResetUninstallListState();
  ResetConfinementState();
}
