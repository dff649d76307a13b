// The process-wide state shared by the driver, the passes and the windows.
#include "common/run_state.h"

#include "common/text.h"

char SourceFolder[kFolderBufferBytes];
char DataDirectory[kPathBytes];
char TARGETDIR[kFolderBufferBytes];
char SELECTDIR[kFolderBufferBytes];

int InstallStatus = kStatusRunning;
int ErrorKind = kErrorKindGeneral;
char ErrorDetail[kDetailBytes];
int OkPressed = 0;

int64_t ArchiveSizeFigure = -1;
int32_t ProgressKiB = 0;
int CancelQuestionOpen = 0;

char WindowTitle[kTextBufferBytes];
char SpaceText[kTextBufferBytes];
char CachedDriveLetter = '@';
uint32_t CachedFreeMiB = 0;

int64_t ArchiveSizeKiB() { return ArchiveSizeFigure / 1024; }

void ReportWriteFailure(const char *message_template, const char *path) {
  // A path is at most 259 bytes and the templates are short, so the detail
  // always fits; FormatText still refuses to overrun if it ever did not.
  FormatText(ErrorDetail, sizeof ErrorDetail, message_template, path);
  ErrorKind = kErrorKindWriting;
  InstallStatus = kStatusFailed;
}

void ResetRunState() {
  SourceFolder[0] = '\0';
  DataDirectory[0] = '\0';
  TARGETDIR[0] = '\0';
  SELECTDIR[0] = '\0';
  InstallStatus = kStatusRunning;
  ErrorKind = kErrorKindGeneral;
  ErrorDetail[0] = '\0';
  OkPressed = 0;
  ArchiveSizeFigure = -1;
  ProgressKiB = 0;
  CancelQuestionOpen = 0;
  WindowTitle[0] = '\0';
  SpaceText[0] = '\0';
  CachedDriveLetter = '@';
  CachedFreeMiB = 0;
}
