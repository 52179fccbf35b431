#include "tests/update/zip_writer.h"

namespace {

void Put16(std::string& out, uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

constexpr uint32_t kDosDate = (0 << 9) | (1 << 5) | 1;  // 1980-01-01

// The fields local and central headers share, from "version needed" to the extra length.
void PutCommon(std::string& out, const ZipEntry& entry) {
    Put16(out, 20);  // version needed: 2.0
    Put16(out, 0);   // flags
    Put16(out, 0);   // method: stored
    Put16(out, 0);   // time
    Put16(out, kDosDate);
    Put32(out, Crc32(entry.data));
    Put32(out, static_cast<uint32_t>(entry.data.size()));
    Put32(out, static_cast<uint32_t>(entry.data.size()));
    Put16(out, static_cast<uint32_t>(entry.name.size()));
    Put16(out, 0);  // extra field length
}

}  // namespace

uint32_t Crc32(const std::string& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string MakeStoredZip(const std::vector<ZipEntry>& entries) {
    std::string archive;
    std::string directory;
    for (const ZipEntry& entry : entries) {
        uint32_t offset = static_cast<uint32_t>(archive.size());
        Put32(archive, 0x04034b50);
        PutCommon(archive, entry);
        archive += entry.name;
        archive += entry.data;

        Put32(directory, 0x02014b50);
        Put16(directory, 20);  // made by
        PutCommon(directory, entry);
        Put16(directory, 0);  // comment length
        Put16(directory, 0);  // disk number
        Put16(directory, 0);  // internal attributes
        Put32(directory, 0);  // external attributes
        Put32(directory, offset);
        directory += entry.name;
    }
    uint32_t directoryOffset = static_cast<uint32_t>(archive.size());
    archive += directory;
    Put32(archive, 0x06054b50);
    Put16(archive, 0);
    Put16(archive, 0);
    Put16(archive, static_cast<uint32_t>(entries.size()));
    Put16(archive, static_cast<uint32_t>(entries.size()));
    Put32(archive, static_cast<uint32_t>(directory.size()));
    Put32(archive, directoryOffset);
    Put16(archive, 0);
    return archive;
}
