#include "components/unzip/output_folder.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "components/unzip/Unzip.h"
#include "components/unzip/temporary_names.h"

namespace unzip {
namespace {

std::wstring LongPathForm(std::wstring path) {
    if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
    if (path.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + path.substr(2);
    return L"\\\\?\\" + path;
}

}  // namespace

int WriteFailureCode(DWORD error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ? UNZIP_E_DISK_FULL : UNZIP_E_WRITE;
}

COutputFolder::COutputFolder(const std::wstring& folder) : m_root(LongPathForm(folder)) {
    if (m_root.back() != L'\\') m_root += L'\\';
}

int COutputFolder::CreateFolders(const std::wstring& relative) {
    for (size_t nEnd = 0; nEnd != std::wstring::npos;) {
        nEnd = relative.find(L'\\', nEnd + 1);
        std::wstring part = relative.substr(0, nEnd);
        if (m_made.count(part)) continue;
        std::wstring full = m_root + part;
        if (!CreateDirectoryW(full.c_str(), nullptr)) {
            DWORD error = GetLastError();
            DWORD attributes = GetFileAttributesW(full.c_str());
            // An existing folder is fine; an existing file of that name is not.
            if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
                return WriteFailureCode(error);
        }
        m_made.insert(part);
    }
    return UNZIP_OK;
}

void COutputFolder::RemoveLeftovers(const std::wstring& relative) {
    if (m_swept.insert(relative).second)
        RemoveLeftoverTemporaries(relative.empty() ? m_root : m_root + relative + L'\\');
}

int COutputFolder::CheckFreeSpace(uint64_t bytes) const {
    uint64_t available = 0;
    if (!FreeBytes(&available)) return UNZIP_OK;
    return bytes > available ? UNZIP_E_DISK_FULL : UNZIP_OK;
}

bool COutputFolder::FreeBytes(uint64_t* bytes) const {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(m_root.c_str(), &available, nullptr, nullptr)) return false;
    *bytes = available.QuadPart;
    return true;
}

namespace {

// Renames a file through its open handle: one request instead of opening it again by name, which
// counts when thousands of small files are installed. `target` is in the \\?\ form; the
// handle's rename takes the system's own form of it.
bool RenameOpenFile(HANDLE file, const std::wstring& target) {
    if (target.compare(0, 4, L"\\\\?\\") != 0) return false;
    const std::wstring name = L"\\??\\" + target.substr(4);
    const DWORD nameBytes = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    FILE_RENAME_INFO* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = nameBytes;
    memcpy(info->FileName, name.data(), nameBytes);
    return SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size())) != FALSE;
}

}  // namespace

CPartialFile::~CPartialFile() { Discard(); }

bool CPartialFile::MarkForDeletion(bool deleteOnClose) {
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = deleteOnClose ? TRUE : FALSE;
    return SetFileInformationByHandle(m_file.Get(), FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

void CPartialFile::Discard() {
    m_file.Close();
    if (m_strTemp.empty()) return;
    DeleteFileW(m_strTemp.c_str());
    NoteTemporaryDone(m_strTemp.substr(m_strTemp.rfind(L'\\') + 1));
    m_strTemp.clear();
}

int CPartialFile::Create(const std::wstring& target) {
    Discard();
    m_strTarget = target;
    std::wstring folder = target.substr(0, target.rfind(L'\\') + 1);
    for (int nTry = 0; nTry < 100; ++nTry) {
        // Short and clearly temporary, whatever the entry's name: no partial file looks done.
        // Noted before it exists, so a sweep of the folder never takes it for a leftover.
        std::wstring name = NewTemporaryName();
        std::wstring temp = folder + name;
        NoteTemporaryInUse(name);
        m_file.Reset(CreateFileW(temp.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        if (m_file.IsValid()) {
            m_strTemp = temp;
            // Where the file system cannot mark it, only a process that ends half-way leaves it.
            m_bMarked = MarkForDeletion(true);
            return UNZIP_OK;
        }
        DWORD error = GetLastError();
        NoteTemporaryDone(name);
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return WriteFailureCode(error);
    }
    return UNZIP_E_WRITE;
}

int CPartialFile::Write(const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        DWORD nWant = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        DWORD nDone = 0;
        if (!WriteFile(m_file.Get(), p, nWant, &nDone, nullptr)) return WriteFailureCode(GetLastError());
        if (nDone == 0) return UNZIP_E_WRITE;
        p += nDone;
        size -= nDone;
    }
    return UNZIP_OK;
}

int CPartialFile::Commit(const FILETIME* modified) {
    if (modified) SetFileTime(m_file.Get(), nullptr, nullptr, modified);  // a nicety: no failure
    if (m_bMarked && !MarkForDeletion(false)) return WriteFailureCode(GetLastError());
    // On the disk before its name is: after a power loss the engine counts this unpack as done.
    if (!FlushFileBuffers(m_file.Get())) return WriteFailureCode(GetLastError());
    // An update replaces read-only files too.
    DWORD attributes = GetFileAttributesW(m_strTarget.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        SetFileAttributesW(m_strTarget.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    const bool renamed = RenameOpenFile(m_file.Get(), m_strTarget);
    m_file.Close();
    if (!renamed &&
        !MoveFileExW(m_strTemp.c_str(), m_strTarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return WriteFailureCode(GetLastError());
    NoteTemporaryDone(m_strTemp.substr(m_strTemp.rfind(L'\\') + 1));
    m_strTemp.clear();
    return UNZIP_OK;
}

}  // namespace unzip
