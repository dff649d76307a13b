// The process-wide state shared by the driver and the passes.
#include "driver/state.h"

#include "common/text.h"

char SourceFolder[kFolderBufferBytes];
char TARGETDIR[kFolderBufferBytes];
char SELECTDIR[kFolderBufferBytes];

int InstallStatus = kStatusRunning;
int ErrorKind = kErrorKindGeneral;
char ErrorDetail[kDetailBytes];
int OkPressed = 0;

void ReportWriteFailure(const char *message_template, const char *path) {
  // A path is at most 259 bytes and the templates are short, so the detail
  // always fits; FormatText still refuses to overrun if it ever did not.
  FormatText(ErrorDetail, sizeof ErrorDetail, message_template, path);
  ErrorKind = kErrorKindWriting;
  InstallStatus = kStatusFailed;
}
