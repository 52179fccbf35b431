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
    // `dataLimit`: where entry data must end (the start of the central directory).
    // `onWritten` is told the size of every block written.
    CEntryExtractor(const CArchiveFile& archive, uint64_t dataLimit, CStreamBuffers& buffers,
                    std::function<void(uint64_t)> onWritten)
        : m_archive(archive), m_nDataLimit(dataLimit), m_buffers(buffers), m_onWritten(std::move(onWritten)) {}

    // Writes `entry` to the full path `target` (its folder exists). UNZIP_OK or a failure code;
    // on failure nothing is left under the target's name that was not there before.
    int Extract(const CZipEntry& entry, const std::wstring& target);

private:
    int FindData(const CZipEntry& entry, uint64_t& dataOffset);
    int CopyStored(const CZipEntry& entry, uint64_t offset, CPartialFile& out, uint32_t& crc);
    int Inflate(const CZipEntry& entry, uint64_t offset, CPartialFile& out, uint32_t& crc);
    int Emit(const unsigned char* data, size_t size, CPartialFile& out, uint32_t& crc);

    const CArchiveFile& m_archive;
    uint64_t m_nDataLimit;
    CStreamBuffers& m_buffers;
    std::function<void(uint64_t)> m_onWritten;
};

// The entry's modification time: the Unix time field if present, else the DOS local time.
bool EntryModifiedTime(const CZipEntry& entry, FILETIME& time);

}  // namespace unzip
