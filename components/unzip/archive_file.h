#pragma once
// Read-only access to the archive: reads at any offset, and a buffered sequential reader for
// walking the central directory without holding it in memory all at once.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/scoped_handle.h"

namespace unzip {

class CArchiveFile {
public:
    // `path` is a full path; returns false (last error set) when it cannot be opened.
    bool Open(const std::wstring& path);
    uint64_t Size() const { return m_nSize; }

    // Reads up to `size` bytes at `offset`; `read` gets the count, which is short only at the
    // end of the file. Returns UNZIP_OK or UNZIP_E_READ.
    int ReadAt(uint64_t offset, void* buffer, size_t size, size_t& read) const;
    // Reads exactly `size` bytes at `offset`: UNZIP_E_TRUNCATED if the file ends first.
    int ReadExactAt(uint64_t offset, void* buffer, size_t size) const;

private:
    ScopedKernelHandle m_file;
    uint64_t m_nSize = 0;
};

// Reads [begin, end) of the archive front to back through a fixed buffer.
class CSequentialReader {
public:
    CSequentialReader(const CArchiveFile& file, uint64_t begin, uint64_t end, size_t bufferSize);

    // Appends exactly `size` bytes to `out`. UNZIP_E_BAD_DIRECTORY if the range ends first
    // (a record that claims more bytes than the directory holds).
    int Read(size_t size, std::string& out);
    uint64_t Position() const { return m_nPos; }
    bool AtEnd() const { return m_nPos >= m_nEnd; }

private:
    const CArchiveFile& m_file;
    uint64_t m_nPos;  // archive offset of the next byte handed out
    uint64_t m_nEnd;
    std::vector<char> m_buffer;
    size_t m_nBufferStart = 0;
    size_t m_nBufferEnd = 0;
};

// Little-endian field readers for record parsing; `p` must hold the bytes.
inline uint16_t Le16(const void* p) {
    const unsigned char* b = static_cast<const unsigned char*>(p);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}
inline uint32_t Le32(const void* p) {
    const unsigned char* b = static_cast<const unsigned char*>(p);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}
inline uint64_t Le64(const void* p) {
    const unsigned char* b = static_cast<const unsigned char*>(p);
    return Le32(b) | (static_cast<uint64_t>(Le32(b + 4)) << 32);
}

}  // namespace unzip
