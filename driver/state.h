// Process-wide state of the run: the folder variables and the failure state
// that the passes set and the driver reads once, at the end.
#pragma once

enum { kFolderBufferBytes = 1024, kPathBytes = 260, kDetailBytes = 1024 };

// Values of InstallStatus.
enum { kStatusRunning = 0, kStatusCancelled = 1, kStatusFailed = 2 };
// ErrorKind: a failure while writing; anything else is a general failure.
enum { kErrorKindGeneral = 0, kErrorKindWriting = 2 };

extern char SourceFolder[kFolderBufferBytes];
extern char TARGETDIR[kFolderBufferBytes];
extern char SELECTDIR[kFolderBufferBytes];

extern int InstallStatus;
extern int ErrorKind;
extern char ErrorDetail[kDetailBytes];
extern int OkPressed;

// Records a failure while writing: ErrorDetail from the template (one %s, the
// path), ErrorKind 2, InstallStatus 2.
void ReportWriteFailure(const char *message_template, const char *path);
