#pragma once
// Streams one file entry from the archive to disk: stored or deflate, CRC-32 and declared
// sizes checked, never more than the declared size written.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "components/unzip/archive_file.h"
#include "components/unzip/output_folder.h"
#include "components/unzip/zip_directory.h"

namespace unzip {

// The buffers one unpack reuses for every entry, so memory stays the same whatever the size.
struct CStreamBuffers {
    explicit CStreamBuffers(size_t size) : input(size), output(size) {}
    std::vector<unsigned char> input;
    std::vector<unsigned char> output;
};

class CEntryExtractor {
public:
    // `onWritten` is told the size of every block written and answers false to stop the
    // entry (UNZIP_E_CANCELLED).
    CEntryExtractor(const CArchiveFile& archive, CStreamBuffers& buffers, std::function<bool(uint64_t)> onWritten)
        : m_archive(archive), m_buffers(buffers), m_onWritten(std::move(onWritten)) {}

    // Writes `entry`, whose data starts at `dataOffset`, to the full path `target` (its folder
    // exists). UNZIP_OK or a failure code; on failure nothing is left under the target's name
    // that was not there before.
    int Extract(const CZipEntry& entry, uint64_t dataOffset, const std::wstring& target);

private:
    int CopyStored(const CZipEntry& entry, uint64_t offset, CPartialFile& out, uint32_t& crc);
    int Inflate(const CZipEntry& entry, uint64_t offset, CPartialFile& out, uint32_t& crc);
    int Emit(const unsigned char* data, size_t size, CPartialFile& out, uint32_t& crc);

    const CArchiveFile& m_archive;
    CStreamBuffers& m_buffers;
    std::function<bool(uint64_t)> m_onWritten;
};

// The entry's modification time: the Unix time field if present, else the DOS local time.
bool EntryModifiedTime(const CZipEntry& entry, FILETIME& time);

}  // namespace unzip
