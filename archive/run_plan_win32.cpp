// The plan of a run: each change named before the first is made, with one
// flush instead of one per change.
#include "archive/run_plan_win32.h"

#include <windows.h>

#include <shlwapi.h>

#include <cstring>

#include "archive/loader_win32.h"
#include "archive/run_rules.h"
#include "common/confined_win32.h"
#include "common/cp932.h"
#include "common/failure_messages.h"
#include "common/file_look_win32.h"
#include "common/run_state.h"
#include "common/text.h"
#include "journal/durability_win32.h"
#include "journal/journal.h"
#include "journal/run_record_win32.h"

// A file that is there is planned as moved to its backup, unless the pass
// will refuse to move it (JudgeBackup): that entry fails before it changes
// anything. A file that is not there is planned as about to be created, and
// its folder too when that is missing; one that could not be looked at is
// planned as nothing, and recorded when the pass comes to it. A path that
// crosses a link fails its entry here, before the run changes anything:
// 1, reported; -1 when the record could not take the plan.
static int PlanEntry(const char *path, char (&checked_folder)[kPathBytes]) {
  // The plan is one moment: a folder looked through once is not looked at
  // again for the next new file in it.
  char folder[kPathBytes];
  CopyText(folder, sizeof folder, path);
  long separator = FindLastSeparator(folder);
  if (separator >= 0)
    folder[separator] = '\0';
  bool folder_seen = separator >= 0 && std::strcmp(folder, checked_folder) == 0;
  FileLook there = LookForFile(path);
  PlaceLook look = there == kFileAbsent && folder_seen ? kPlaceAbsent : LookAtPlace(path);
  if (look == kPlaceLinked) {
    ReportWriteFailure(there == kFilePresent ? kBackupFailedTemplate : kCreateFailedTemplate, path);
    return 1;
  }
  if (look == kPlaceUnknown)
    return 0;
  if (look == kPlaceAbsent) {
    if (separator >= 0 && !folder_seen) {
      CopyText(checked_folder, sizeof checked_folder, folder);
      if (!PathIsDirectoryA(folder) && PlanChange(kRecordDirectory, folder) != 0)
        return -1;
    }
    return PlanChange(kRecordCreating, path);
  }
  char backup[kPathBytes];
  bool fits = BuildBackupPath(backup, sizeof backup, path) == 0;
  bool taken = fits && LookForFile(backup) == kFilePresent;
  if (JudgeBackup(PathIsFolder(path), fits, taken) != kBackupAllowed)
    return 0;
  return PlanChange(kRecordReplacing, path);
}

static int ReportPlanFailure() {
  char record[kPathBytes];
  if (BuildRunRecordPath(record, sizeof record, TARGETDIR) != 0)
    CopyText(record, sizeof record, TARGETDIR);
  ReportWriteFailure(kCannotWriteTemplate, record);
  return -1;
}

int PlanRun() {
  StartRunPlan();
  char checked_folder[kPathBytes] = "";
  ArchiveEntry entry;
  for (int32_t n = 0; GetArchiveEntry(n, &entry) == n; ++n) {
    char path[kPathBytes];
    // The pass stops at an entry whose path does not fit, before any change.
    if (JoinPath(path, sizeof path, TARGETDIR, entry.name) != 0)
      break;
    int planned = PlanEntry(path, checked_folder);
    if (planned > 0)
      return -1;
    if (planned < 0)
      return ReportPlanFailure();
  }
  if (PlanListTemporary(TARGETDIR) != 0 || RecordPlanWhole() != 0 || FlushRunRecord() != 0)
    return ReportPlanFailure();
  return 0;
}
