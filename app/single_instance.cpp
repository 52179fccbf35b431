#include "app/single_instance.h"

#include <windows.h>

#include "framework/gbk_text.h"
#include "framework/sha256.h"

namespace {

// The folder's path, in one case, as UTF-16: the same folder however it was spelled.
std::wstring FolderKey(const std::string& folder) {
    std::wstring wide = GbkToWide(folder);
    if (!wide.empty()) ::CharLowerBuffW(&wide[0], static_cast<DWORD>(wide.size()));
    while (!wide.empty() && wide.back() == L'\\') wide.pop_back();
    return wide;
}

// Object names may not hold backslashes: the folder goes in as a digest.
std::wstring MutexName(const std::string& folder) {
    const std::wstring key = FolderKey(folder);
    std::string hex;
    if (!BytesSha256(std::string(reinterpret_cast<const char*>(key.data()), key.size() * sizeof(wchar_t)), &hex))
        hex = "0000000000000000";
    return L"Local\\updater-folder-" + std::wstring(hex.begin(), hex.begin() + 32);
}

// The folder of the program that process `pid` runs, in the key's form.
std::wstring ProcessFolder(DWORD pid) {
    ScopedKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.IsValid()) return std::wstring();
    wchar_t path[MAX_PATH * 2] = {};
    DWORD length = MAX_PATH * 2;
    if (!::QueryFullProcessImageNameW(process.Get(), 0, path, &length)) return std::wstring();
    std::wstring image(path, length);
    size_t slash = image.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : FolderKey(WideToGbk(image.substr(0, slash)));
}

struct Search {
    std::wstring folder;
    DWORD self = 0;
    HWND found = nullptr;
};

// The main dialog is a top-level dialog that nothing owns; its message boxes are owned by it.
BOOL CALLBACK TakeMainWindow(HWND window, LPARAM parameter) {
    Search& search = *reinterpret_cast<Search*>(parameter);
    wchar_t className[16] = {};
    if (::GetWindow(window, GW_OWNER) != nullptr || !::GetClassNameW(window, className, 16) ||
        std::wstring(className) != L"#32770") {
        return TRUE;
    }
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (pid == search.self || ProcessFolder(pid) != search.folder) return TRUE;
    search.found = window;
    return FALSE;
}

}  // namespace

bool SingleInstance::Claim(const std::string& folder) {
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, MutexName(folder).c_str());
    const bool another = mutex != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS;
    // Without the mutex nothing can be told; running beats refusing to start.
    m_mutex.Reset(mutex);
    return !another;
}

void SingleInstance::BringFirstToFront(const std::string& folder) {
    Search search;
    search.folder = FolderKey(folder);
    search.self = ::GetCurrentProcessId();
    ::EnumWindows(TakeMainWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) return;
    if (::IsIconic(search.found)) ::ShowWindow(search.found, SW_RESTORE);
    ::SetForegroundWindow(search.found);
}
