#pragma once
// Builds small zip archives in memory with the stored method, so a test can serve a real
// package without tools at build time.
#include <cstdint>
#include <string>
#include <vector>

struct ZipEntry {
    std::string name;  // with forward slashes, as zip stores it
    std::string data;
};

uint32_t Crc32(const std::string& data);

// A complete archive: local headers, data, central directory and its end record.
std::string MakeStoredZip(const std::vector<ZipEntry>& entries);
