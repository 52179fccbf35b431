#pragma once
// A download never writes its destination: it fills a side file beside it (the destination's
// name plus ".part") and, once that is whole and its checksum matches, puts it in the
// destination's place in one step. A small record beside the side file ("….part.info") keeps
// what the bytes were fetched against and how many of them are already on the disk, so only a
// side file of the server's current file is ever resumed, and only as far as it was flushed.
#include <cstdint>
#include <string>
#include <vector>

#include "download/segment_plan.h"

struct SideFileInfo {
    std::string url;
    uint64_t total = 0;     // the file's announced size
    std::string validator;  // the server's ETag, else its Last-Modified
    uint64_t flushed = 0;   // the side file's first bytes known to be on the disk
    // Of a download over several connections: every piece known to be on the disk, the first
    // one included (it is also `flushed`). Empty for one connection.
    std::vector<ByteSpan> held;
};

std::string SidePath(const std::string& destination);

// A record without the flushed extent (an older version's) vouches for nothing: false.
bool ReadSideInfo(const std::string& destination, SideFileInfo* info);
bool WriteSideInfo(const std::string& destination, const SideFileInfo& info);

// Deletes the side file and its record; missing ones are fine.
void RemoveSideFiles(const std::string& destination);

// The side file is whole: checks it against `sha256` (when not empty), flushes it to the disk
// and moves it onto the destination. A mismatch shows "校验文件%s失败." and deletes the side
// file. Shows its own errors; false leaves the destination as it was.
bool ReplaceWithSideFile(const std::string& destination, const std::string& sha256);
