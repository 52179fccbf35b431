#include "download/local_file.h"

#include <windows.h>

#include "download/download_messages.h"
#include "download/download_support.h"

namespace {
HANDLE OpenWrite(const std::string& path, DWORD disposition) {
    return ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
}

// Opens, and when the folder is missing creates it and tries once more: never forever.
HANDLE OpenCreatingFolder(const std::string& path, DWORD disposition) {
    HANDLE file = OpenWrite(path, disposition);
    if (file == INVALID_HANDLE_VALUE && CreateFolderFor(path)) file = OpenWrite(path, disposition);
    return file;
}

void ShowCreateError(const std::string& path) {
    ShowDownloadError(FormatText("创建文件%s错误. 错误号:%d.", path.c_str(), static_cast<int>(GetLastError())),
                      MB_RETRYCANCEL);
}
}  // namespace

bool LocalFileSize(const std::string& path, uint64_t* size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool LocalFile::OpenForResume(const std::string& path, uint64_t* offset) {
    uint64_t size = 0;
    if (!LocalFileSize(path, &size) || size == 0) {
        *offset = 0;
        m_file.Reset(OpenCreatingFolder(path, OPEN_ALWAYS));
        if (!m_file.IsValid()) ShowCreateError(path);
        return m_file.IsValid();
    }
    m_file.Reset(OpenWrite(path, OPEN_EXISTING));
    LARGE_INTEGER end = {};
    if (m_file.IsValid() && ::SetFilePointerEx(m_file.Get(), LARGE_INTEGER{}, &end, FILE_END)) {
        *offset = static_cast<uint64_t>(end.QuadPart);
        return true;
    }
    m_file.Close();
    ShowDownloadError(FormatText("文件%s打开错误", path.c_str()), MB_RETRYCANCEL);
    return false;
}

bool LocalFile::OpenForRewrite(const std::string& path) {
    m_file.Reset(OpenCreatingFolder(path, CREATE_ALWAYS));
    if (!m_file.IsValid()) ShowCreateError(path);
    return m_file.IsValid();
}

bool LocalFile::Append(const char* data, unsigned long length) {
    while (length > 0) {
        DWORD written = 0;
        if (!::WriteFile(m_file.Get(), data, length, &written, nullptr) || written == 0) return false;
        data += written;
        length -= written;
    }
    return true;
}

bool LocalFile::Truncate() {
    return ::SetFilePointerEx(m_file.Get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN) && ::SetEndOfFile(m_file.Get());
}
