#pragma once
// Values the whole process reads, set once by the main dialog's initialisation.
#include <windows.h>

class CMavrinDlg;

extern HWND g_hMainWnd;           // owner of the engine's and the downloads' message boxes
extern CMavrinDlg* g_pTaskList;   // null until the dialog is initialised; row updates skip it then
extern char g_szAppDir[MAX_PATH]; // the program's directory, with a trailing backslash

// The directory part of a program path, keeping its trailing backslash.
void AppDirFromModulePath(const char* modulePath, char* appDir, size_t appDirSize);
