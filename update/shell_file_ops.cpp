#include "update/shell_file_ops.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <vector>

#include "download/download_messages.h"
#include "framework/gbk_text.h"
#include "update/engine_messages.h"

namespace {
constexpr FILEOP_FLAGS kSilentFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;  // 0x414

// The shell's path-list form: the path, then two NUL characters. The wide calls keep Chinese
// names right whatever the machine's ANSI code page is.
std::vector<wchar_t> PathList(const std::string& path, size_t capacity) {
    std::wstring wide = GbkToWide(path);
    std::vector<wchar_t> list(std::max(capacity, wide.size() + 2), L'\0');
    std::copy(wide.begin(), wide.end(), list.begin());
    return list;
}

bool PathExists(const std::string& path) { return ::PathFileExistsW(GbkToWide(path).c_str()) != FALSE; }

// The shell reports some failures as success (a missing source under some systems): look
// first. A wildcard source counts when it matches anything.
bool SourceExists(const std::string& source) {
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(GbkToWide(source).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    ::FindClose(search);
    return true;
}

bool RunOperation(UINT operation, const std::string& from, const std::string* to, size_t capacity = MAX_PATH) {
    std::vector<wchar_t> fromList = PathList(from, capacity);
    std::vector<wchar_t> toList = to ? PathList(*to, capacity) : std::vector<wchar_t>();
    SHFILEOPSTRUCTW op = {};
    op.wFunc = operation;
    op.pFrom = fromList.data();
    op.pTo = to ? toList.data() : nullptr;
    op.fFlags = kSilentFlags;
    return ::SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted;
}
}  // namespace

bool ShellDeleteFile(const ListPath& path) {
    if (!PathExists(path.full)) return true;
    if (RunOperation(FO_DELETE, path.full, nullptr)) return true;
    ShowEngineError(FormatText("删除%s失败.", path.written.c_str()));
    return false;
}

bool ShellMoveFile(const ListPath& source, const ListPath& target) {
    if (SourceExists(source.full) && RunOperation(FO_MOVE, source.full, &target.full)) return true;
    ShowEngineError(FormatText("移动 %s 到 %s 失败.", source.written.c_str(), target.written.c_str()));
    return false;
}

bool ShellCopyFile(const ListPath& source, const ListPath& target) {
    if (SourceExists(source.full) && RunOperation(FO_COPY, source.full, &target.full)) return true;
    ShowEngineError(FormatText("复制 %s 到 %s 失败.", source.written.c_str(), target.written.c_str()));
    return false;
}

void ShellRemoveTree(const std::string& fullPath) {
    if (PathExists(fullPath)) RunOperation(FO_DELETE, fullPath, nullptr, 1024);
}
