// The process-wide state of a run, in one place below every folder that uses
// it: the folder variables, the failure state that the passes set and the
// driver reads once at the end, the progress count, and what the windows
// keep between their messages.
#pragma once
#include <cstdint>

enum { kFolderBufferBytes = 1024, kPathBytes = 260, kDetailBytes = 1024, kTextBufferBytes = 1024 };

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
