#pragma once
// The manifest published beside a package zip: where each entry lies in the zip, how big it is
// and what it must hash to, so the entries can be installed while the zip's bytes arrive.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ManifestEntry {
    std::string rawName;          // as stored
    uint16_t method = 0, flags = 0, dosDate = 0, dosTime = 0;
    bool hasUnixTime = false; int64_t unixTime = 0;
    uint64_t localHeaderOffset = 0, dataOffset = 0, dataLength = 0, size = 0;
    uint32_t crc32 = 0;
    std::string sha256;           // 64 lower-case hex
    std::wstring relativePath;    // from MakeEntryPath: '\' separators, checked
    bool isDirectory = false;
};

struct PackageManifest {
    uint64_t zipSize = 0;
    std::string zipSha256;
    std::vector<ManifestEntry> entries;   // sorted by localHeaderOffset
};

constexpr size_t kManifestMaxBytes = 64u << 20;  // room for 100,000 entries

// Parses and checks: format, order, no overlap, within zipSize, methods 0/8, stored entries
// with dataLength == size, no encryption flag, every name through the same rules as Unzip.dll
// (MakeEntryPath), no two entries with the same path (case-insensitive). False with a short
// English reason (for a trace line) otherwise.
bool ParsePackageManifest(const std::string& bytes, PackageManifest* manifest, std::string* why);
