#include "app/debug_privilege.h"

#include <windows.h>

#include "framework/scoped_handle.h"

bool EnableDebugPrivilege() {
    HANDLE rawToken = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &rawToken)) return false;
    ScopedKernelHandle token(rawToken);
    TOKEN_PRIVILEGES privileges = {};
    if (!::LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &privileges.Privileges[0].Luid)) return false;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!::AdjustTokenPrivileges(token.Get(), FALSE, &privileges, sizeof privileges, nullptr, nullptr)) return false;
    return ::GetLastError() == ERROR_SUCCESS;
}
