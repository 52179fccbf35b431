#include "components/unzip/entry_extractor.h"

#include <algorithm>

#include <zlib.h>

#include "components/unzip/Unzip.h"

namespace unzip {
namespace {

// zlib's raw-deflate stream, always ended.
class CInflateStream {
public:
    CInflateStream() { m_nInit = inflateInit2(&m_stream, -MAX_WBITS); }
    ~CInflateStream() {
        if (m_nInit == Z_OK) inflateEnd(&m_stream);
    }
    CInflateStream(const CInflateStream&) = delete;
    CInflateStream& operator=(const CInflateStream&) = delete;
    int InitResult() const { return m_nInit; }
    z_stream* operator->() { return &m_stream; }
    z_stream* Get() { return &m_stream; }

private:
    z_stream m_stream = {};
    int m_nInit;
};

}  // namespace

bool EntryModifiedTime(const CZipEntry& entry, FILETIME& time) {
    if (entry.hasUnixTime) {
        // 100 ns ticks since 1601.
        ULONGLONG ticks = static_cast<ULONGLONG>(entry.unixTime + 11644473600LL) * 10000000ULL;
        time.dwLowDateTime = static_cast<DWORD>(ticks);
        time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
        return true;
    }
    FILETIME local;
    return entry.dosDate != 0 && DosDateTimeToFileTime(entry.dosDate, entry.dosTime, &local) &&
           LocalFileTimeToFileTime(&local, &time);
}

int CEntryExtractor::Emit(const unsigned char* data, size_t size, CPartialFile& out, uint32_t& crc) {
    crc = static_cast<uint32_t>(crc32(crc, data, static_cast<uInt>(size)));
    int code = out.Write(data, size);
    if (code == UNZIP_OK && size > 0 && !m_onWritten(size)) return UNZIP_E_CANCELLED;
    return code;
}

int CEntryExtractor::CopyStored(const CZipEntry& entry, uint64_t offset, CPartialFile& out, uint32_t& crc) {
    if (entry.compressedSize != entry.uncompressedSize)
        return entry.compressedSize > entry.uncompressedSize ? UNZIP_E_DATA_LONGER : UNZIP_E_DATA_SHORTER;
    std::vector<unsigned char>& buffer = m_buffers.input;
    for (uint64_t nLeft = entry.compressedSize; nLeft > 0;) {
        size_t nChunk = static_cast<size_t>(std::min<uint64_t>(nLeft, buffer.size()));
        int code = m_archive.ReadExactAt(offset, buffer.data(), nChunk);
        if (code != UNZIP_OK) return code;
        if ((code = Emit(buffer.data(), nChunk, out, crc)) != UNZIP_OK) return code;
        offset += nChunk;
        nLeft -= nChunk;
    }
    return UNZIP_OK;
}

int CEntryExtractor::Inflate(const CZipEntry& entry, uint64_t offset, CPartialFile& out, uint32_t& crc) {
    CInflateStream stream;
    if (stream.InitResult() != Z_OK)
        return stream.InitResult() == Z_MEM_ERROR ? UNZIP_E_NO_MEMORY : UNZIP_E_INTERNAL;
    std::vector<unsigned char>& in = m_buffers.input;
    std::vector<unsigned char>& outBuf = m_buffers.output;
    uint64_t nInLeft = entry.compressedSize;
    uint64_t nWritten = 0;
    int z = Z_OK;
    while (z != Z_STREAM_END) {
        if (stream->avail_in == 0) {
            if (nInLeft == 0) return UNZIP_E_BAD_DATA;  // the stream goes on past its stated size
            size_t nChunk = static_cast<size_t>(std::min<uint64_t>(nInLeft, in.size()));
            int code = m_archive.ReadExactAt(offset, in.data(), nChunk);
            if (code != UNZIP_OK) return code;
            offset += nChunk;
            nInLeft -= nChunk;
            stream->next_in = in.data();
            stream->avail_in = static_cast<uInt>(nChunk);
        }
        stream->next_out = outBuf.data();
        stream->avail_out = static_cast<uInt>(outBuf.size());
        z = inflate(stream.Get(), Z_NO_FLUSH);
        if (z == Z_MEM_ERROR) return UNZIP_E_NO_MEMORY;
        if (z != Z_OK && z != Z_STREAM_END && z != Z_BUF_ERROR) return UNZIP_E_BAD_DATA;
        size_t nHave = outBuf.size() - stream->avail_out;
        // Checked before writing: nothing beyond the declared size reaches the disk.
        if (nHave > entry.uncompressedSize - nWritten) return UNZIP_E_DATA_LONGER;
        int code = Emit(outBuf.data(), nHave, out, crc);
        if (code != UNZIP_OK) return code;
        nWritten += nHave;
    }
    if (nWritten < entry.uncompressedSize) return UNZIP_E_DATA_SHORTER;
    // Compressed bytes left after the end of the stream: the stated size is wrong.
    if (stream->avail_in != 0 || nInLeft != 0) return UNZIP_E_BAD_DATA;
    return UNZIP_OK;
}

int CEntryExtractor::Extract(const CZipEntry& entry, uint64_t nOffset, const std::wstring& target) {
    CPartialFile out;
    int code = out.Create(target);
    if (code != UNZIP_OK) return code;
    uint32_t crc = 0;
    code = entry.method == kMethodStored ? CopyStored(entry, nOffset, out, crc)
                                         : Inflate(entry, nOffset, out, crc);
    if (code != UNZIP_OK) return code;
    if (crc != entry.crc) return UNZIP_E_CRC;
    FILETIME modified;
    return out.Commit(EntryModifiedTime(entry, modified) ? &modified : nullptr);
}

}  // namespace unzip
