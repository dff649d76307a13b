// Small helpers every window of the program uses.
#pragma once
#include <windows.h>

// Fills WindowTitle: the product identifier, an ideographic space and
// "インストール".
void BuildWindowTitle();

// Gives pending messages of the window and its children to the dialog
// manager, or translates and dispatches them; returns as soon as none is
// pending and never waits. A null window pumps nothing.
void PumpMessages(HWND window);

// Centres the window on its owner, or on the desktop when it has none.
void CenterOnOwner(HWND window);

// Makes the window the foreground window even when another program's window
// is in front.
void BringToForeground(HWND window);

// A message box with the program's caption "インストール".
int ShowMessage(HWND owner, const char *text, UINT flags);
