// Template and control numbers shared by the resource script and the code.
// Plain #defines: windres reads this header too.
#pragma once

#define IDD_PROGRESS 101
#define IDD_CONFIRM 102
#define IDD_ROLLBACK_WAIT 103
#define IDD_FINISH_WAIT 107

// Progress window (101).
#define IDC_PROGRESS_BAR 1000
#define IDC_PROGRESS_SECOND_LINE 1009
#define IDC_PROGRESS_STATUS 1010

// Confirmation dialog (102).
#define IDC_CHANGE_DESTINATION 1001
#define IDC_SELECTDIR_EDIT 1005
#define IDC_TARGETDIR_TEXT 1006
#define IDC_SPACE_TEXT 1008

#define IDC_STATIC_LABEL (-1)
