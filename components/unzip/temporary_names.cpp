#include "components/unzip/temporary_names.h"

#include <windows.h>

#include <atomic>
#include <cwctype>
#include <mutex>
#include <set>

#include "framework/scoped_handle.h"

namespace unzip {
namespace {

const wchar_t kPrefix[] = L"~unzip-";
const wchar_t kSuffix[] = L".part";

// Unique across calls in this process; the process id keeps other processes apart.
std::atomic<unsigned> g_nCounter{0};

std::mutex g_inUseMutex;
std::set<std::wstring> g_inUse;

// Reads the digits at `*position`; false when there are none or too many.
bool ReadNumber(const std::wstring& text, size_t* position, DWORD* value) {
    size_t start = *position;
    unsigned long long number = 0;
    while (*position < text.size() && std::iswdigit(text[*position]) && *position - start < 10)
        number = number * 10 + (text[(*position)++] - L'0');
    *value = static_cast<DWORD>(number);
    return *position > start && number <= 0xFFFFFFFFull;
}

// The process id in a name of NewTemporaryName's form; false for any other name.
bool TemporaryOwner(const std::wstring& name, DWORD* pid) {
    const size_t prefix = wcslen(kPrefix), suffix = wcslen(kSuffix);
    if (name.size() <= prefix + suffix || name.compare(0, prefix, kPrefix) != 0 ||
        name.compare(name.size() - suffix, suffix, kSuffix) != 0)
        return false;
    size_t position = prefix;
    DWORD counter = 0;
    if (!ReadNumber(name, &position, pid) || position >= name.size() || name[position++] != L'-' ||
        !ReadNumber(name, &position, &counter))
        return false;
    return position == name.size() - suffix;
}

bool ProcessIsRunning(DWORD pid) {
    ScopedKernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    if (!process.IsValid()) return GetLastError() == ERROR_ACCESS_DENIED;  // there, but not ours to open
    return WaitForSingleObject(process.Get(), 0) == WAIT_TIMEOUT;
}

bool IsLeftover(const std::wstring& name) {
    DWORD pid = 0;
    if (!TemporaryOwner(name, &pid)) return false;
    if (pid != GetCurrentProcessId()) return !ProcessIsRunning(pid);
    std::lock_guard<std::mutex> lock(g_inUseMutex);
    return g_inUse.count(name) == 0;
}

}  // namespace

std::wstring NewTemporaryName() {
    return kPrefix + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(g_nCounter++) + kSuffix;
}

void NoteTemporaryInUse(const std::wstring& name) {
    std::lock_guard<std::mutex> lock(g_inUseMutex);
    g_inUse.insert(name);
}

void NoteTemporaryDone(const std::wstring& name) {
    std::lock_guard<std::mutex> lock(g_inUseMutex);
    g_inUse.erase(name);
}

void RemoveLeftoverTemporaries(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    ScopedFind find(FindFirstFileW((folder + kPrefix + L"*" + kSuffix).c_str(), &found));
    if (!find.IsValid()) return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsLeftover(found.cFileName))
            DeleteFileW((folder + found.cFileName).c_str());
    } while (FindNextFileW(find.Get(), &found));
}

}  // namespace unzip
