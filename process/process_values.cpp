#include "process/process_values.h"

#include <cstring>

HWND g_hMainWnd = nullptr;
CMavrinDlg* g_pTaskList = nullptr;
char g_szAppDir[MAX_PATH] = {};

void AppDirFromModulePath(const char* modulePath, char* appDir, size_t appDirSize) {
    if (appDirSize == 0) return;
    const char* lastSeparator = std::strrchr(modulePath, '\\');
    size_t keep = lastSeparator ? static_cast<size_t>(lastSeparator - modulePath) + 1 : 0;
    if (keep >= appDirSize) keep = appDirSize - 1;
    std::memcpy(appDir, modulePath, keep);
    appDir[keep] = '\0';
}
