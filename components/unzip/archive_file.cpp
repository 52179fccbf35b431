#include "components/unzip/archive_file.h"

#include <algorithm>
#include <cstring>

#include "components/unzip/Unzip.h"

namespace unzip {

bool CArchiveFile::Open(const std::wstring& path) {
    m_file.Reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!m_file.IsValid()) return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(m_file.Get(), &size)) {
        m_file.Close();
        return false;
    }
    m_nSize = static_cast<uint64_t>(size.QuadPart);
    return true;
}

int CArchiveFile::ReadAt(uint64_t offset, void* buffer, size_t size, size_t& read) const {
    read = 0;
    char* out = static_cast<char*>(buffer);
    while (read < size && offset + read < m_nSize) {
        // ReadFile takes 32-bit counts; an offset in OVERLAPPED reads there without a seek.
        DWORD nWant = static_cast<DWORD>(std::min<size_t>(size - read, 1u << 30));
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset + read);
        at.OffsetHigh = static_cast<DWORD>((offset + read) >> 32);
        DWORD nGot = 0;
        if (!ReadFile(m_file.Get(), out + read, nWant, &nGot, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return UNZIP_E_READ;
        }
        if (nGot == 0) break;
        read += nGot;
    }
    return UNZIP_OK;
}

int CArchiveFile::ReadExactAt(uint64_t offset, void* buffer, size_t size) const {
    size_t nRead = 0;
    int code = ReadAt(offset, buffer, size, nRead);
    if (code != UNZIP_OK) return code;
    return nRead == size ? UNZIP_OK : UNZIP_E_TRUNCATED;
}

CSequentialReader::CSequentialReader(const CArchiveFile& file, uint64_t begin, uint64_t end,
                                     size_t bufferSize)
    : m_file(file), m_nPos(begin), m_nEnd(end), m_buffer(bufferSize) {}

int CSequentialReader::Read(size_t size, std::string& out) {
    if (size > m_nEnd - m_nPos) return UNZIP_E_BAD_DIRECTORY;
    while (size > 0) {
        if (m_nBufferStart == m_nBufferEnd) {
            size_t nWant = static_cast<size_t>(std::min<uint64_t>(m_buffer.size(), m_nEnd - m_nPos));
            int code = m_file.ReadExactAt(m_nPos, m_buffer.data(), nWant);
            if (code != UNZIP_OK) return code;
            m_nBufferStart = 0;
            m_nBufferEnd = nWant;
        }
        size_t nTake = std::min(size, m_nBufferEnd - m_nBufferStart);
        out.append(m_buffer.data() + m_nBufferStart, nTake);
        m_nBufferStart += nTake;
        m_nPos += nTake;
        size -= nTake;
    }
    return UNZIP_OK;
}

}  // namespace unzip
