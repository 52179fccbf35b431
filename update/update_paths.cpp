#include "update/update_paths.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <vector>

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

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The forms a path can take, told apart the way the system reads them. Classified on the
// wide text: a GBK trail byte may be a backslash.
enum class PathForm { Relative, Stream, RootRelative, DriveRelative, Absolute, Unc, Device };

PathForm Classify(const std::wstring& path) {
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        bool device = path.size() >= 4 && (path[2] == L'?' || path[2] == L'.') && IsSeparator(path[3]);
        return device ? PathForm::Device : PathForm::Unc;
    }
    if (!path.empty() && IsSeparator(path[0])) return PathForm::RootRelative;
    bool letter = !path.empty() && ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
    if (letter && path.size() >= 2 && path[1] == L':') {
        return path.size() >= 3 && IsSeparator(path[2]) ? PathForm::Absolute : PathForm::DriveRelative;
    }
    return path.find(L':') == std::wstring::npos ? PathForm::Relative : PathForm::Stream;
}

// Joined in wide text: a GBK trail byte may be a backslash.
std::wstring JoinWide(const std::wstring& head, const std::wstring& tail) {
    size_t start = 0;
    while (start < tail.size() && IsSeparator(tail[start])) ++start;
    return head + L'\\' + tail.substr(start);
}

bool IsInside(std::wstring base, std::wstring full) {
    if (base.empty() || full.empty()) return false;
    if (base.back() != L'\\') base += L'\\';
    // Trailing separators name the same thing: "dir\" is the folder itself.
    while (full.size() > base.size() && full.back() == L'\\') full.pop_back();
    return full.size() > base.size() &&
           ::CompareStringOrdinal(full.c_str(), static_cast<int>(base.size()), base.c_str(),
                                  static_cast<int>(base.size()), TRUE) == CSTR_EQUAL;
}

// The root of the program's folder: "C:\" or "\\host\share".
std::wstring ProgramRoot(const std::wstring& folder) {
    std::vector<wchar_t> root(folder.begin(), folder.end());
    root.resize(std::max<size_t>(root.size() + 1, MAX_PATH), L'\0');
    return ::PathStripToRootW(root.data()) ? std::wstring(root.data()) : std::wstring();
}

// Taken from the program file itself, so no code page comes between.
std::wstring ModuleFolder() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, length);
    size_t slash = dir.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : dir.substr(0, slash);
}

// The full path `written` names, or empty when the rule refuses it.
std::wstring Resolve(const std::wstring& written, PathRule rule) {
    const std::wstring folder = FullForm(ModuleFolder());
    if (folder.empty()) return std::wstring();
    switch (Classify(written)) {
    case PathForm::Relative: {
        std::wstring full = FullForm(JoinWide(folder, written));
        return IsInside(folder, full) ? full : std::wstring();
    }
    case PathForm::Absolute:
    case PathForm::Unc:
    case PathForm::Device:
        return rule == PathRule::AbsoluteAllowed ? FullForm(written) : std::wstring();
    case PathForm::RootRelative: {
        std::wstring root = ProgramRoot(folder);
        if (rule != PathRule::AbsoluteAllowed || root.empty()) return std::wstring();
        while (!root.empty() && IsSeparator(root.back())) root.pop_back();
        return FullForm(JoinWide(root, written));
    }
    case PathForm::Stream:
    case PathForm::DriveRelative:
        break;
    }
    return std::wstring();
}
}  // namespace

std::string GetModuleDir() { return WideToGbk(ModuleFolder()); }

std::string JoinPath(const std::string& head, const std::string& tail) {
    size_t headEnd = head.find_last_not_of('\\');
    size_t tailStart = tail.find_first_not_of('\\');
    std::string joined = headEnd == std::string::npos ? std::string() : head.substr(0, headEnd + 1);
    joined += '\\';
    if (tailStart != std::string::npos) joined += tail.substr(tailStart);
    return joined;
}

bool IsInsideFolder(const std::string& folder, const std::string& path) {
    return IsInside(FullForm(GbkToWide(folder)), FullForm(GbkToWide(path)));
}

bool TryResolveListPath(const std::string& path, PathRule rule, ListPath* resolved) {
    // Text that does not survive the GBK round trip (bytes that are not GBK, a folder name
    // GBK cannot hold) would reach the file calls as another path than the one checked.
    const std::wstring wide = GbkToWide(path);
    std::wstring full = WideToGbk(wide) == path ? Resolve(wide, rule) : std::wstring();
    std::string fullText = WideToGbk(full);
    if (full.empty() || GbkToWide(fullText) != full) return false;
    resolved->written = path;
    resolved->full = fullText;
    return true;
}

bool ResolveListPath(const std::string& path, PathRule rule, ListPath* resolved) {
    if (TryResolveListPath(path, rule, resolved)) return true;
    ShowEngineError(FormatText("执行更新列表文件错误,路径不在程序目录之内:%s.", path.c_str()));
    return false;
}
