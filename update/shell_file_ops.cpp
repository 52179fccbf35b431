#include "update/shell_file_ops.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <vector>

#include "download/download_messages.h"
#include "framework/gbk_text.h"
#include "framework/scoped_handle.h"
#include "framework/trace.h"
#include "update/engine_messages.h"

namespace {
constexpr FILEOP_FLAGS kSilentFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;  // 0x414
constexpr DWORD kWriteThrough = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;
// The copy's side file: replaces the target only once its bytes are on the disk.
constexpr wchar_t kCopySuffix[] = L".~copy";

// The shell's path-list form: the path, then two NUL characters. The wide calls keep Chinese
// names right whatever the machine's ANSI code page is.
std::vector<wchar_t> PathList(const std::wstring& wide, size_t capacity) {
    std::vector<wchar_t> list(std::max(capacity, wide.size() + 2), L'\0');
    std::copy(wide.begin(), wide.end(), list.begin());
    return list;
}

bool PathExists(const std::string& path) { return ::PathFileExistsW(GbkToWide(path).c_str()) != FALSE; }

// Split on the wide text: a GBK trail byte may be a backslash.
std::wstring LastPart(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring Parent(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool IsFolder(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The names a source names: the matches of a wildcard, or its own last part.
std::vector<std::wstring> Matches(const std::wstring& source) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(source.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

// A read-only file is made writable for the moment of its flush.
bool FlushFile(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly) ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    bool flushed;
    {
        ScopedKernelHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        flushed = file.IsValid() && ::FlushFileBuffers(file.Get());
    }
    if (readOnly) ::SetFileAttributesW(path.c_str(), attributes);
    if (!flushed) TraceLine("tor1: %s not flushed, error %lu", WideToGbk(path).c_str(), ::GetLastError());
    return flushed;
}

// Every file at or below `path`; nothing there is nothing to flush.
bool FlushTree(const std::wstring& path) {
    if (IsFile(path)) return FlushFile(path);
    if (!IsFolder(path)) return true;
    bool flushed = true;
    for (const std::wstring& name : Matches(path + L"\\*")) flushed = FlushTree(path + L"\\" + name) && flushed;
    return flushed;
}

// Where the shell puts a source named `name`: inside a folder target, else the target itself.
std::wstring Destination(const std::wstring& target, bool targetIsFolder, const std::wstring& name) {
    return targetIsFolder ? target + L"\\" + name : target;
}

// The shell reports some failures as success (a missing source under some systems): look
// first. A wildcard source counts when it matches anything.
bool SourceExists(const std::string& source) { return !Matches(GbkToWide(source)).empty(); }

bool RunOperation(UINT operation, const std::wstring& from, const std::wstring* to, size_t capacity = MAX_PATH) {
    std::vector<wchar_t> fromList = PathList(from, capacity);
    std::vector<wchar_t> toList = to ? PathList(*to, capacity) : std::vector<wchar_t>();
    SHFILEOPSTRUCTW op = {};
    op.wFunc = operation;
    op.pFrom = fromList.data();
    op.pTo = to ? toList.data() : nullptr;
    op.fFlags = kSilentFlags;
    return ::SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted;
}

// Folder sources (and wildcard copies) go through the shell, which promises nothing about
// the disk: what it wrote is flushed afterwards, before the entry counts.
bool ShellThenFlush(UINT operation, const ListPath& source, const ListPath& target) {
    const std::wstring wideTarget = GbkToWide(target.full);
    const bool targetIsFolder = IsFolder(wideTarget);
    const std::vector<std::wstring> names = Matches(GbkToWide(source.full));
    if (!RunOperation(operation, GbkToWide(source.full), &wideTarget)) return false;
    bool flushed = true;
    for (const std::wstring& name : names) flushed = FlushTree(Destination(wideTarget, targetIsFolder, name)) && flushed;
    return flushed;
}

// A single file to a target whose folder exists is moved or copied by our own calls, each
// durable when it returns: the file's final path (inside a folder target), or empty when the
// shell must do it (wildcard or folder source, or a target folder still to be made).
std::wstring SingleFileTarget(const ListPath& source, const ListPath& target) {
    const std::wstring from = GbkToWide(source.full);
    if (HasWildcard(source.full) || !IsFile(from)) return std::wstring();
    const std::wstring to = GbkToWide(target.full);
    if (IsFolder(to)) return to + L"\\" + LastPart(from);
    const std::wstring parent = Parent(to);
    return parent.empty() || IsFolder(parent) ? to : std::wstring();
}

// A pattern's matches are moved one by one, each durable when its move returns (a folder
// through the shell, then flushed). The shell would do the same, but refuses some patterns
// with several matches outright. Several matches go into the target as a folder.
bool MoveEachMatch(const ListPath& source, const ListPath& target) {
    const std::wstring from = GbkToWide(source.full);
    const std::wstring folder = Parent(from);
    const std::wstring to = GbkToWide(target.full);
    const std::vector<std::wstring> names = Matches(from);
    const bool intoFolder = IsFolder(to) || names.size() > 1;
    if (intoFolder && !IsFolder(to) && !::CreateDirectoryW(to.c_str(), nullptr)) return false;
    for (const std::wstring& name : names) {
        const std::wstring one = folder + L"\\" + name;
        const std::wstring destination = Destination(to, intoFolder, name);
        const bool moved = IsFolder(one) ? RunOperation(FO_MOVE, one, &to) && FlushTree(destination)
                                         : ::MoveFileExW(one.c_str(), destination.c_str(), kWriteThrough) != FALSE;
        if (!moved) return false;
    }
    return true;
}

bool CopyThroughSideFile(const std::wstring& from, const std::wstring& to) {
    const std::wstring side = to + kCopySuffix;
    if (::CopyFileW(from.c_str(), side.c_str(), FALSE) && FlushFile(side) &&
        ::MoveFileExW(side.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    DWORD error = ::GetLastError();
    ::DeleteFileW(side.c_str());
    ::SetLastError(error);
    return false;
}
}  // namespace

bool HasWildcard(const std::string& path) { return LastPart(GbkToWide(path)).find_first_of(L"*?") != std::wstring::npos; }

bool ShellDeleteFile(const ListPath& path) {
    if (!PathExists(path.full)) return true;
    if (RunOperation(FO_DELETE, GbkToWide(path.full), nullptr)) return true;
    ShowEngineError(FormatText("删除%s失败.", path.written.c_str()));
    return false;
}

bool ShellMoveFile(const ListPath& source, const ListPath& target, bool emptyMatchIsDone) {
    if (!SourceExists(source.full)) {
        if (emptyMatchIsDone && HasWildcard(source.full)) {
            TraceLine("tor1: %s matches nothing: moved before", source.full.c_str());
            return true;
        }
    } else if (HasWildcard(source.full)) {
        if (MoveEachMatch(source, target)) return true;
    } else {
        const std::wstring single = SingleFileTarget(source, target);
        if (single.empty() ? ShellThenFlush(FO_MOVE, source, target)
                           : ::MoveFileExW(GbkToWide(source.full).c_str(), single.c_str(), kWriteThrough) != FALSE) {
            return true;
        }
    }
    ShowEngineError(FormatText("移动 %s 到 %s 失败.", source.written.c_str(), target.written.c_str()));
    return false;
}

bool ShellCopyFile(const ListPath& source, const ListPath& target) {
    if (SourceExists(source.full)) {
        const std::wstring single = SingleFileTarget(source, target);
        if (single.empty() ? ShellThenFlush(FO_COPY, source, target)
                           : CopyThroughSideFile(GbkToWide(source.full), single)) {
            return true;
        }
    }
    ShowEngineError(FormatText("复制 %s 到 %s 失败.", source.written.c_str(), target.written.c_str()));
    return false;
}

bool RenameListFile(const ListPath& source, const ListPath& target) {
    // No replacing: an existing target is a failure, as with the C runtime's rename.
    if (::MoveFileExW(GbkToWide(source.full).c_str(), GbkToWide(target.full).c_str(),
                      MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    ShowEngineError(FormatText("rename执行失败,源文件:%s,目标文件:%s.错误号:%d", source.written.c_str(),
                               target.written.c_str(), static_cast<int>(::GetLastError())));
    return false;
}

void ShellRemoveTree(const std::string& fullPath) {
    if (PathExists(fullPath)) RunOperation(FO_DELETE, GbkToWide(fullPath), nullptr, 1024);
}
