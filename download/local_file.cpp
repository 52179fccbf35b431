#include "download/local_file.h"

#include <windows.h>

#include "download/download_messages.h"
#include "download/download_support.h"
#include "framework/gbk_text.h"

namespace {
HANDLE OpenWrite(const std::string& path, DWORD disposition) {
    return ::CreateFileW(GbkToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Opens, and when the folder is missing creates it and tries once more: never forever.
HANDLE OpenCreatingFolder(const std::string& path, DWORD disposition) {
    HANDLE file = OpenWrite(path, disposition);
    if (file == INVALID_HANDLE_VALUE && CreateFolderFor(path)) file = OpenWrite(path, disposition);
    return file;
}
}  // namespace

bool LocalFileSize(const std::string& path, uint64_t* size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(GbkToWide(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return false;
    }
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

void DeleteLocalFile(const std::string& path) { ::DeleteFileW(GbkToWide(path).c_str()); }

bool LocalFile::OpenAt(const std::string& path, uint64_t offset) {
    uint64_t size = 0;
    const bool existed = LocalFileSize(path, &size);
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (Opened(OpenCreatingFolder(path, OPEN_ALWAYS)) && ::SetFilePointerEx(m_file.Get(), at, nullptr, FILE_BEGIN) &&
        ::SetEndOfFile(m_file.Get())) {
        return true;
    }
    ShowOpenError(path, existed);
    return false;
}

bool LocalFile::OpenKeeping(const std::string& path) {
    uint64_t size = 0;
    const bool existed = LocalFileSize(path, &size);
    if (Opened(OpenCreatingFolder(path, OPEN_ALWAYS))) return true;
    ShowOpenError(path, existed);
    return false;
}

bool LocalFile::Opened(HANDLE file) {
    Close();
    m_file.Reset(file);
    if (!m_file.IsValid()) return false;
    m_behind.reset(new WriteBehind(m_file.Get()));
    return true;
}

void LocalFile::ShowOpenError(const std::string& path, bool existed) {
    DWORD error = ::GetLastError();
    Close();
    if (existed) {
        ShowDownloadError(FormatText("文件%s打开错误", path.c_str()), MB_RETRYCANCEL);
    } else {
        ShowDownloadError(FormatText("创建文件%s错误. 错误号:%d.", path.c_str(), static_cast<int>(error)),
                          MB_RETRYCANCEL);
    }
}

static_assert(BodyReader::kLargestRead == WriteBehind::kBlockSize, "a reader's buffer is traded for a block");

bool LocalFile::Append(BodyReader& reader, unsigned long length) {
    return m_behind && m_behind->Write(WriteBehind::kAtPosition, &reader.Buffer(), length);
}

bool LocalFile::WriteAt(uint64_t offset, BodyReader& reader, unsigned long length) {
    return m_behind && m_behind->Write(offset, &reader.Buffer(), length);
}

bool LocalFile::Truncate() {
    return WritesDone() && ::SetFilePointerEx(m_file.Get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN) && ::SetEndOfFile(m_file.Get());
}

bool LocalFile::Flush() { return WritesDone() && ::FlushFileBuffers(m_file.Get()) != 0; }

bool LocalFile::Close() {
    const bool written = WritesDone();
    const DWORD error = ::GetLastError();
    m_behind.reset();
    m_file.Close();
    ::SetLastError(error);
    return written;
}
