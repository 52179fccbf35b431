#pragma once
// The archive's table of contents: the end records (with Zip64) and the central directory.
#include <cstdint>
#include <string>
#include <vector>

#include "components/unzip/archive_file.h"

namespace unzip {

enum : uint16_t {
    kMethodStored = 0,
    kMethodDeflate = 8,
    kFlagEncrypted = 0x0001,
    kFlagDataDescriptor = 0x0008,
    kFlagStrongEncryption = 0x0040,
    kFlagUtf8 = 0x0800,
    kFlagMaskedDirectory = 0x2000,
};

struct CZipEntry {
    std::string rawName;         // name bytes as stored
    std::string unicodePathExtra;  // UTF-8 name from an Info-ZIP 0x7075 field matching rawName
    uint16_t flags = 0;
    uint16_t method = 0;
    uint16_t dosTime = 0;
    uint16_t dosDate = 0;
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t uncompressedSize = 0;
    uint64_t localHeaderOffset = 0;
    bool hasUnixTime = false;    // modification time from a 0x5455 field, seconds since 1970 UTC
    int64_t unixTime = 0;
};

struct CZipDirectory {
    std::vector<CZipEntry> entries;
    // Where the central directory starts: every entry's header and data lie before it.
    uint64_t directoryOffset = 0;
};

// Finds the end records and reads every central directory entry. Returns UNZIP_OK,
// UNZIP_E_NOT_ZIP, UNZIP_E_TRUNCATED, UNZIP_E_BAD_DIRECTORY, UNZIP_E_UNSUPPORTED (split
// archives) or UNZIP_E_READ.
int ReadZipDirectory(const CArchiveFile& file, CZipDirectory& directory);

// Fills the 64-bit fields that the 32-bit ones mark (all ones) from a Zip64 extra field, and
// picks up the UTF-8 name and Unix time fields. Returns false if a marked field is missing.
bool ParseCentralExtra(const std::string& extra, CZipEntry& entry, bool offsetMarked,
                       bool diskMarked);

}  // namespace unzip
