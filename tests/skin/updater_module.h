#pragma once
// The built updater program, opened as a data file so tests can load its resources.
#include <windows.h>

#include <string>

#include "framework/scoped_handle.h"

// Test programs live in tests-bin/, beside the ready-to-copy bin/ folder.
inline ScopedModule LoadUpdaterAsData() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    dir.erase(dir.find_last_of(L"\\/") + 1);
    std::wstring updater = dir + L"..\\bin\\updater.exe";
    return ScopedModule(LoadLibraryExW(updater.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
}
