// The application shell: the main window and what start-up creates for it.
#pragma once
#include <windows.h>

extern HANDLE InstanceMutex;   // named mutex that keeps a second copy out; may be null
extern HFONT TitleFont;        // the title word's font; null if it could not be made
extern HWND MainWindow;        // the one top-level window

extern const char WindowClassName[];

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
