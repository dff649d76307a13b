// The destination confirmation dialog: its procedure, the display of the
// destination and the checks the start button runs.
#include "ui/confirm_dialog_win32.h"

#include "common/failure_messages.h"
#include "common/run_state.h"
#include "common/text.h"
#include "ui/resources/resource_ids.h"
#include "ui/space_math.h"
#include "ui/window_helpers_win32.h"

static const char kTooDeepMessage[] = "%sのでインストールできません。";
static const char kCannotInstallMessage[] = "%sにはインストールできません。";
static const char kNotFixedDiskQuestion[] =
    "内蔵ハードディスク以外にインストールすることはお勧めしません。\n%sにインストールしますか？";

enum { kMessageBytes = 1024, kRootBytes = 4 };

// The root ("X:\\") of a path that starts at one; byte 0 is left to the callers.
static bool CopyDriveRoot(const char *path, char root[kRootBytes]) {
  if (path[0] == '\0' || path[1] != ':' || path[2] != '\\')
    return false;
  root[0] = path[0];
  root[1] = ':';
  root[2] = '\\';
  root[3] = '\0';
  return true;
}

uint32_t QueryFreeMiB(const char *path) {
  char root[kRootBytes];
  if (!CopyDriveRoot(path, root))
    return CachedFreeMiB;
  if (root[0] == CachedDriveLetter)
    return CachedFreeMiB;
  // The letter is taken before measuring: a drive that can't be measured
  // keeps its 0 instead of being asked again on every call.
  CachedDriveLetter = root[0];
  ULARGE_INTEGER available, total, total_free;
  if (GetDiskFreeSpaceExA(root, &available, &total, &total_free))
    CachedFreeMiB = BytesToMiB(available.QuadPart);
  else
    CachedFreeMiB = 0;
  return CachedFreeMiB;
}

static void EnableStartButton(HWND dialog, BOOL enable) {
  if (dialog != nullptr)
    EnableWindow(GetDlgItem(dialog, IDOK), enable);
}

void UpdateDestinationDisplay(HWND dialog) {
  switch (ClassifyDestination(TARGETDIR)) {
  case kDestinationTooLong:
    CopyText(TARGETDIR, sizeof TARGETDIR, kDestinationTooDeepNote);
    EnableStartButton(dialog, FALSE);
    break;
  case kDestinationOnDrive: {
    uint32_t free_mib = QueryFreeMiB(TARGETDIR);
    FormatSpaceText(SpaceText, sizeof SpaceText, RequiredMiB(ArchiveSizeKiB()), free_mib);
    EnableStartButton(dialog, TRUE);
    break;
  }
  case kDestinationOther:
    EnableStartButton(dialog, FALSE);
    break;
  }
}

// Shows a refusal (or the question) about TARGETDIR, owned by the dialog.
static int TellAboutTarget(HWND dialog, const char *message_template, UINT flags) {
  char message[kMessageBytes];
  FormatText(message, sizeof message, message_template, TARGETDIR);
  return ShowMessage(dialog, message, flags);
}

int ValidateDestination(HWND dialog) {
  if (IsDestinationTooLong(SELECTDIR)) {
    TellAboutTarget(dialog, kTooDeepMessage, MB_OK | MB_ICONINFORMATION);
    return 0;
  }
  if (!HasFullDriveForm(TARGETDIR)) {
    TellAboutTarget(dialog, kCannotInstallMessage, MB_OK | MB_ICONINFORMATION);
    return 0;
  }
  char root[kRootBytes];
  CopyDriveRoot(TARGETDIR, root);
  UINT drive_type = GetDriveTypeA(root);
  if (drive_type == DRIVE_CDROM) {
    TellAboutTarget(dialog, kCannotInstallMessage, MB_OK | MB_ICONINFORMATION);
    return 0;
  }
  if (drive_type != DRIVE_FIXED && TellAboutTarget(dialog, kNotFixedDiskQuestion, MB_YESNO | MB_ICONWARNING) != IDYES)
    return 0;
  if (QueryFreeMiB(TARGETDIR) < RequiredMiB(ArchiveSizeKiB())) {
    ShowMessage(dialog, kNoSpaceMessage, MB_OK | MB_ICONINFORMATION);
    return 0;
  }
  return 1;
}

// Reads the destination back from the edit box and refreshes what depends on it.
static void OnDestinationEdited(HWND dialog) {
  SendDlgItemMessageA(dialog, IDC_SELECTDIR_EDIT, WM_GETTEXT, kPathBytes, reinterpret_cast<LPARAM>(SELECTDIR));
  UpdateDestinationDisplay(dialog);
  SetDlgItemTextA(dialog, IDC_TARGETDIR_TEXT, TARGETDIR);
  SetDlgItemTextA(dialog, IDC_SPACE_TEXT, SpaceText);
}

static void InitConfirmDialog(HWND dialog) {
  BuildWindowTitle();
  SetWindowTextA(dialog, WindowTitle);
  CenterOnOwner(dialog);
  SetDlgItemTextA(dialog, IDC_SELECTDIR_EDIT, SELECTDIR);
  // Edit controls do not all notify their dialog when the program sets their
  // text; settling the start button here does not depend on it.
  OnDestinationEdited(dialog);
  BringToForeground(dialog);
}

INT_PTR CALLBACK ConfirmDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) {
    InitConfirmDialog(dialog);
    return TRUE;
  }
  if (message != WM_COMMAND)
    return FALSE;
  // Start and cancel count only as clicks (notification code 0).
  if (wparam == IDOK) {
    if (!ValidateDestination(dialog))
      return FALSE;
    OkPressed = 1;
    EndDialog(dialog, IDOK);
    return TRUE;
  }
  if (wparam == IDCANCEL) {
    EndDialog(dialog, IDCANCEL);
    return TRUE;
  }
  if (LOWORD(wparam) == IDC_SELECTDIR_EDIT)
    OnDestinationEdited(dialog);
  return FALSE;
}

void RunConfirmDialog(HINSTANCE instance) {
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_CONFIRM), nullptr, ConfirmDialogProc, 0);
}
