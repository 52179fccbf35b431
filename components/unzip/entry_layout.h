#pragma once
// Where each entry lies in the archive, and the check that no two entries share bytes: a
// directory that points many names at one data record would write far more than the archive
// holds.
#include <cstdint>
#include <vector>

#include "components/unzip/archive_file.h"
#include "components/unzip/zip_directory.h"

namespace unzip {

// The offset of `entry`'s data, read from its local header. Header and data must end before
// `dataLimit` (the start of the central directory). UNZIP_OK, UNZIP_E_BAD_DIRECTORY or a
// read failure.
int LocateEntryData(const CArchiveFile& archive, uint64_t dataLimit, const CZipEntry& entry, uint64_t& dataOffset);

// One entry's bytes: from its local header to the end of its data.
struct CEntrySpan {
    uint64_t begin;
    uint64_t end;
};

// UNZIP_OK when no two spans share a byte, UNZIP_E_OVERLAP otherwise.
int CheckNoOverlap(std::vector<CEntrySpan> spans);

}  // namespace unzip
