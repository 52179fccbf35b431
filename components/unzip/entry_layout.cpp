#include "components/unzip/entry_layout.h"

#include <algorithm>

#include "components/unzip/Unzip.h"

namespace unzip {
namespace {
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr size_t kLocalSize = 30;
}  // namespace

int LocateEntryData(const CArchiveFile& archive, uint64_t dataLimit, const CZipEntry& entry, uint64_t& dataOffset) {
    unsigned char header[kLocalSize];
    if (entry.localHeaderOffset > dataLimit || dataLimit - entry.localHeaderOffset < kLocalSize)
        return UNZIP_E_BAD_DIRECTORY;
    int code = archive.ReadExactAt(entry.localHeaderOffset, header, sizeof header);
    if (code != UNZIP_OK) return code;
    if (Le32(header) != kLocalSignature || Le16(header + 8) != entry.method) return UNZIP_E_BAD_DIRECTORY;
    dataOffset = entry.localHeaderOffset + kLocalSize + Le16(header + 26) + Le16(header + 28);
    if (dataOffset > dataLimit || entry.compressedSize > dataLimit - dataOffset) return UNZIP_E_BAD_DIRECTORY;
    return UNZIP_OK;
}

int CheckNoOverlap(std::vector<CEntrySpan> spans) {
    std::sort(spans.begin(), spans.end(),
              [](const CEntrySpan& a, const CEntrySpan& b) { return a.begin < b.begin; });
    for (size_t i = 1; i < spans.size(); ++i)
        if (spans[i - 1].end > spans[i].begin) return UNZIP_E_OVERLAP;
    return UNZIP_OK;
}

}  // namespace unzip
