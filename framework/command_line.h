#pragma once
// The program's arguments as UTF-16, without the program name, so non-ASCII arguments
// survive whatever the ANSI code page is.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

inline bool ProgramArguments(std::vector<std::wstring>* args) {
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv == nullptr) return false;
    args->assign(argv + (argc > 0 ? 1 : 0), argv + argc);
    ::LocalFree(argv);
    return true;
}
