#include "update/update_paths.h"

#include <windows.h>

#include "download/download_messages.h"
#include "framework/gbk_text.h"
#include "update/engine_messages.h"

namespace {
// The system's own full form of a path: "." and ".." resolved, '/' turned into '\'.
std::wstring FullForm(const std::wstring& path) {
    DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return std::wstring();
    std::wstring full(size, L'\0');
    size = ::GetFullPathNameW(path.c_str(), size, &full[0], nullptr);
    if (size == 0 || size >= full.size()) return std::wstring();
    full.resize(size);
    return full;
}
}  // namespace

std::string GetModuleDir() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    size_t slash = dir.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::string() : WideToGbk(dir.substr(0, slash));
}

std::string JoinPath(const std::string& head, const std::string& tail) {
    size_t headEnd = head.find_last_not_of('\\');
    size_t tailStart = tail.find_first_not_of('\\');
    std::string joined = headEnd == std::string::npos ? std::string() : head.substr(0, headEnd + 1);
    joined += '\\';
    if (tailStart != std::string::npos) joined += tail.substr(tailStart);
    return joined;
}

bool IsInsideFolder(const std::string& folder, const std::string& path) {
    std::wstring base = FullForm(GbkToWide(folder));
    std::wstring full = FullForm(GbkToWide(path));
    if (base.empty() || full.empty()) return false;
    if (base.back() != L'\\') base += L'\\';
    // Trailing separators name the same thing: "dir\" is the folder itself.
    while (full.size() > base.size() && full.back() == L'\\') full.pop_back();
    return full.size() > base.size() &&
           ::CompareStringOrdinal(full.c_str(), static_cast<int>(base.size()), base.c_str(),
                                  static_cast<int>(base.size()), TRUE) == CSTR_EQUAL;
}

bool CheckPathInsideProgramFolder(const std::string& listPath) {
    const std::string folder = GetModuleDir();
    if (IsInsideFolder(folder, JoinPath(folder, listPath))) return true;
    ShowEngineError(FormatText("执行更新列表文件错误,路径不在程序目录之内:%s.", listPath.c_str()));
    return false;
}
