#include "components/unzip/zip_directory.h"

#include <algorithm>
#include <cstring>

#include <zlib.h>

#include "components/unzip/Unzip.h"

namespace unzip {
namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr size_t kEndSize = 22;
constexpr size_t kZip64EndSize = 56;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kCentralSize = 46;
constexpr size_t kMaxComment = 0xFFFF;
constexpr uint32_t kMarked32 = 0xFFFFFFFF;

struct CEndRecord {
    uint64_t position = 0;  // of the first end record (Zip64 or classic): the directory ends there
    uint64_t entryCount = 0;
    uint64_t directorySize = 0;
    uint64_t directoryOffset = 0;
    bool zip64 = false;
};

// The classic end record sits within the last 64 KiB + 22 bytes (its comment may be that
// long). Prefer a record whose comment reaches exactly to the end of the file; a record whose
// comment runs past the end means the file was cut.
int FindEndRecord(const CArchiveFile& file, uint64_t& position, std::string& record) {
    const uint64_t nSize = file.Size();
    const size_t nTail = static_cast<size_t>(std::min<uint64_t>(nSize, kEndSize + kMaxComment));
    std::string tail(nTail, '\0');
    int code = file.ReadExactAt(nSize - nTail, &tail[0], nTail);
    if (code != UNZIP_OK) return code;

    bool bCutComment = false;
    size_t nFitting = std::string::npos;
    for (size_t i = nTail >= kEndSize ? nTail - kEndSize + 1 : 0; i-- > 0;) {
        if (Le32(&tail[i]) != kEndSignature) continue;
        size_t nEnd = i + kEndSize + Le16(&tail[i + 20]);
        if (nEnd == nTail) {
            nFitting = i;
            break;
        }
        if (nEnd < nTail) {
            if (nFitting == std::string::npos) nFitting = i;  // trailing bytes after the comment
        } else if (nFitting == std::string::npos) {
            bCutComment = true;
        }
    }
    if (nFitting == std::string::npos) {
        if (bCutComment) return UNZIP_E_TRUNCATED;
        // A file that starts like a zip but has no end record was cut short.
        unsigned char head[4] = {};
        size_t nRead = 0;
        code = file.ReadAt(0, head, sizeof head, nRead);
        if (code != UNZIP_OK) return code;
        return nRead == 4 && Le32(head) == kLocalSignature ? UNZIP_E_TRUNCATED : UNZIP_E_NOT_ZIP;
    }
    position = nSize - nTail + nFitting;
    record.assign(tail, nFitting, kEndSize);
    return UNZIP_OK;
}

int ReadEndRecords(const CArchiveFile& file, CEndRecord& end) {
    uint64_t nPos = 0;
    std::string record;
    int code = FindEndRecord(file, nPos, record);
    if (code != UNZIP_OK) return code;
    const char* p = record.data();
    uint16_t nDisk = Le16(p + 4), nDirDisk = Le16(p + 6);
    uint16_t nDiskEntries = Le16(p + 8);
    end.position = nPos;
    end.entryCount = Le16(p + 10);
    end.directorySize = Le32(p + 12);
    end.directoryOffset = Le32(p + 16);

    // A Zip64 locator right before the end record points at the Zip64 end record, whose
    // 64-bit counts and offsets replace the classic ones.
    unsigned char locator[kZip64LocatorSize];
    if (nPos >= kZip64LocatorSize &&
        file.ReadExactAt(nPos - kZip64LocatorSize, locator, sizeof locator) == UNZIP_OK &&
        Le32(locator) == kZip64LocatorSignature) {
        uint64_t nRecord = Le64(locator + 8);
        uint32_t nDisks = Le32(locator + 16);
        if (Le32(locator + 4) != 0 || nDisks > 1) return UNZIP_E_UNSUPPORTED;
        if (nRecord > nPos - kZip64LocatorSize || nPos - kZip64LocatorSize - nRecord < kZip64EndSize)
            return UNZIP_E_BAD_DIRECTORY;
        unsigned char z[kZip64EndSize];
        code = file.ReadExactAt(nRecord, z, sizeof z);
        if (code != UNZIP_OK) return code;
        if (Le32(z) != kZip64EndSignature) return UNZIP_E_BAD_DIRECTORY;
        if (Le32(z + 16) != 0 || Le32(z + 20) != 0 || Le64(z + 24) != Le64(z + 32))
            return UNZIP_E_UNSUPPORTED;
        end.position = nRecord;
        end.entryCount = Le64(z + 32);
        end.directorySize = Le64(z + 40);
        end.directoryOffset = Le64(z + 48);
        end.zip64 = true;
        return UNZIP_OK;
    }
    if (nDisk != 0 || nDirDisk != 0 || nDiskEntries != end.entryCount) return UNZIP_E_UNSUPPORTED;
    return UNZIP_OK;
}

// One central directory record, fixed part first. Returns UNZIP_OK or a failure code.
int ReadCentralEntry(CSequentialReader& reader, CZipEntry& entry) {
    std::string fixed;
    int code = reader.Read(kCentralSize, fixed);
    if (code != UNZIP_OK) return code;
    const char* p = fixed.data();
    if (Le32(p) != kCentralSignature) return UNZIP_E_BAD_DIRECTORY;
    entry.flags = Le16(p + 8);
    entry.method = Le16(p + 10);
    entry.dosTime = Le16(p + 12);
    entry.dosDate = Le16(p + 14);
    entry.crc = Le32(p + 16);
    entry.compressedSize = Le32(p + 20);
    entry.uncompressedSize = Le32(p + 24);
    uint16_t nName = Le16(p + 28), nExtra = Le16(p + 30), nComment = Le16(p + 32);
    uint16_t nDisk = Le16(p + 34);
    entry.localHeaderOffset = Le32(p + 42);

    std::string extra, comment;
    if ((code = reader.Read(nName, entry.rawName)) != UNZIP_OK) return code;
    if ((code = reader.Read(nExtra, extra)) != UNZIP_OK) return code;
    if ((code = reader.Read(nComment, comment)) != UNZIP_OK) return code;
    if (!ParseCentralExtra(extra, entry, Le32(p + 42) == kMarked32, nDisk == 0xFFFF))
        return UNZIP_E_BAD_DIRECTORY;
    return UNZIP_OK;
}

}  // namespace

bool ParseCentralExtra(const std::string& extra, CZipEntry& entry, bool offsetMarked,
                       bool diskMarked) {
    bool bUsizeMarked = entry.uncompressedSize == kMarked32;
    bool bCsizeMarked = entry.compressedSize == kMarked32;
    bool bZip64Seen = false;
    // Fields are (id, size, data); a malformed tail is ignored as other readers do, unless a
    // marked 64-bit value was to come from it.
    for (size_t i = 0; i + 4 <= extra.size();) {
        uint16_t id = Le16(&extra[i]);
        size_t nSize = Le16(&extra[i + 2]);
        if (i + 4 + nSize > extra.size()) break;
        const char* d = extra.data() + i + 4;
        if (id == 0x0001 && !bZip64Seen) {
            // Only the marked fields are present, always in this order.
            bZip64Seen = true;
            size_t nAt = 0;
            auto take = [&](uint64_t& field) {
                if (nAt + 8 > nSize) return false;
                field = Le64(d + nAt);
                nAt += 8;
                return true;
            };
            if (bUsizeMarked && !take(entry.uncompressedSize)) return false;
            if (bCsizeMarked && !take(entry.compressedSize)) return false;
            if (offsetMarked && !take(entry.localHeaderOffset)) return false;
            if (diskMarked && nAt + 4 > nSize) return false;
            bUsizeMarked = bCsizeMarked = offsetMarked = diskMarked = false;
        } else if (id == 0x7075 && nSize >= 5 && d[0] == 1) {
            // Info-ZIP's UTF-8 path, valid only while the CRC of the stored name matches.
            uLong crc = crc32(0, reinterpret_cast<const Bytef*>(entry.rawName.data()),
                              static_cast<uInt>(entry.rawName.size()));
            if (Le32(d + 1) == crc) entry.unicodePathExtra.assign(d + 5, nSize - 5);
        } else if (id == 0x5455 && nSize >= 5 && (d[0] & 1)) {
            entry.hasUnixTime = true;
            entry.unixTime = static_cast<int32_t>(Le32(d + 1));
        }
        i += 4 + nSize;
    }
    return !(bUsizeMarked || bCsizeMarked || offsetMarked || diskMarked);
}

int ReadZipDirectory(const CArchiveFile& file, CZipDirectory& directory) {
    CEndRecord end;
    int code = ReadEndRecords(file, end);
    if (code != UNZIP_OK) return code;
    if (end.directoryOffset > end.position || end.directorySize > end.position - end.directoryOffset) {
        // The directory claims to reach past the end records.
        return end.directoryOffset + end.directorySize > file.Size() ? UNZIP_E_TRUNCATED
                                                                     : UNZIP_E_BAD_DIRECTORY;
    }
    directory.directoryOffset = end.directoryOffset;
    directory.entries.clear();

    CSequentialReader reader(file, end.directoryOffset, end.directoryOffset + end.directorySize,
                             64 * 1024);
    while (!reader.AtEnd()) {
        CZipEntry entry;
        code = ReadCentralEntry(reader, entry);
        if (code != UNZIP_OK) return code;
        if (entry.localHeaderOffset >= end.directoryOffset) return UNZIP_E_BAD_DIRECTORY;
        directory.entries.push_back(std::move(entry));
    }
    // Writers without Zip64 wrap the 16-bit count past 65535 entries: tolerate only that.
    uint64_t nFound = directory.entries.size();
    bool bCountOk = end.zip64 ? nFound == end.entryCount : (nFound & 0xFFFF) == end.entryCount;
    return bCountOk ? UNZIP_OK : UNZIP_E_BAD_DIRECTORY;
}

}  // namespace unzip
