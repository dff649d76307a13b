// The process-wide state of a run, in one place below every folder that uses
// it. Declared here: the folder variables, the failure state that the passes
// set and the driver reads once at the end, the progress count, and what the
// windows keep between their messages. Listed at the end: the file statics
// that belong to one module and stay in its file. Nothing else in the
// program lives for the whole process. Sizes are in common/limits.h.
#pragma once
#include <cstdint>

#include "common/limits.h"

// Values of InstallStatus.
enum { kStatusRunning = 0, kStatusCancelled = 1, kStatusFailed = 2 };
// ErrorKind: a failure while writing; anything else is a general failure.
enum { kErrorKindGeneral = 0, kErrorKindWriting = 2 };

// The program's folder, the data directory read from the registry (one
// trailing separator removed), the destination and its parent.
extern char SourceFolder[kFolderBufferBytes];
extern char DataDirectory[kPathBytes];
extern char TARGETDIR[kFolderBufferBytes];
extern char SELECTDIR[kFolderBufferBytes];

extern int InstallStatus;
extern int ErrorKind;
extern char ErrorDetail[kDetailBytes];
extern int OkPressed;

// The package size figure: UPDATE.DAT's size less 4 (the position of its
// count field), -1 while no package is loaded. The loader sets it; the
// space the run needs and the progress percentage are reckoned from its KiB.
extern int64_t ArchiveSizeFigure;
// ArchiveSizeFigure / 1024, truncated toward zero (0 while none is loaded).
int64_t ArchiveSizeKiB();

// KiB copied so far in this run (each chunk rounded up to whole KiB).
extern int32_t ProgressKiB;

// 1 while the cancel question is open, and for good once it was answered yes.
extern int CancelQuestionOpen;

// The title every window carries: the product identifier, an ideographic
// space and "インストール".
extern char WindowTitle[kTextBufferBytes];

// "HDD要:…M HDD空き:…M", kept from the last time TARGETDIR was a drive path.
extern char SpaceText[kTextBufferBytes];

// The drive letter of the last free-space measurement and its figure. The
// letter starts as '@', which is no drive, so that the first query measures.
extern char CachedDriveLetter;
extern uint32_t CachedFreeMiB;

// Records a failure while writing: ErrorDetail from the template (one %s, the
// path), ErrorKind 2, InstallStatus 2.
void ReportWriteFailure(const char *message_template, const char *path);

// Puts every variable above back to its value at program start.
void ResetRunState();

// The module state: file statics that one module keeps to itself, named
// sCamelCase so that they read as such (the names above, and InstallJournal,
// ArchiveDirectory and UninstallList, are the program's own and keep their
// form). Each module's reset puts its statics back to
// their start values. No test calls a module's reset: there is one reset per
// build. Native tests, which link only the portable code, call
// ResetPortableState (journal/portable_state.h): ResetRunState and the
// journal's. Tests under Wine call ResetProgramState (driver/program_state_win32.h):
// ResetPortableState and every Windows module's reset. ui/ and driver/ keep
// no state of their own.
//
//   file                        statics                                        reset
//   journal/journal.cpp         InstallJournal, sInstallJournalCount,         ResetJournalState (portable)
//                               sInstallJournalCapacity, sInstallJournalLimit
//   archive/loader_win32.cpp          ArchiveDirectory, sArchiveHashes,             ResetLoaderState
//                               sArchiveCount, sLastError
//   archive/extract_win32.cpp         sCopyBuffer (each chunk of a copy)             ResetExtractionState
//   journal/durability_win32.cpp      sPlannedChanges, sPlannedCount,                ResetRunPlanState
//                               sPlannedCapacity, sNextPlanned,
//                               sPlannedTemporary, sPlannedTemporaryFolder
//   journal/run_record_win32.cpp      sRunRecordFile, sRunRecordPath,                ResetRunRecordState
//                               sRunRecordFolder, sSeal, sRunId, sChain,
//                               sListTemporary, sPreviousList
//   journal/record_seal_win32.cpp     sMachineKey, sHmacAlgorithm                    ResetRecordSealState
//   journal/uninstall_list_win32.cpp  UninstallList, sWriteBuffer, sPreviousList,   ResetUninstallListState
//                               sKeptList
//   common/confined_win32.cpp         sRootSpelling, sRootFinal, sRootKnown,         ResetConfinementState
//                               sOwnFolder
