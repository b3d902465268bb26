// The row of link labels above the keyboard (home page, About, Help, Exit)
// and the boxes they open.
#pragma once
#include <windows.h>

extern HWND LinkLabel;
extern HWND AboutLabel;
extern HWND HelpLabel;
extern HWND ExitLabel;

extern const char AboutText[];
extern const char HelpText[];

// WM_CREATE: makes the four labels, in a row above the keyboard that ends at
// its right edge.
void CreateLabels(HWND window);

// WM_CTLCOLORSTATIC: grey transparent text for our labels; 0 for any other control.
HBRUSH ColourLabel(HDC labelDC, HWND label);

// WM_COMMAND: acts on a single click of a label.
void RunLabelCommand(HWND window, WPARAM wParam);
