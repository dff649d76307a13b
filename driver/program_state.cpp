// The reset of every module that keeps process-wide state.
#include "driver/program_state.h"

#include "archive/extract.h"
#include "archive/loader.h"
#include "journal/durability.h"
#include "journal/portable_state.h"
#include "journal/record_seal.h"
#include "journal/run_record.h"
#include "journal/uninstall_list.h"

void ResetProgramState() {
  ResetPortableState();
  ResetLoaderState();
  ResetExtractionState();
  ResetRunPlanState();
  // The record holds the seal: it goes first.
  ResetRunRecordState();
  ResetRecordSealState();
  ResetUninstallListState();
}
