#pragma once
// The file a download writes, 64-bit sizes throughout.
#include <cstdint>
#include <string>

#include "framework/scoped_handle.h"

class LocalFile {
public:
    // Resumable: a missing or empty file is written from 0 (created, never truncated); a
    // file with data is appended to, *offset being its size. Shows its own error box.
    bool OpenForResume(const std::string& path, uint64_t* offset);
    // Plain: created or emptied; a missing folder is created. Shows its own error box.
    bool OpenForRewrite(const std::string& path);

    bool Append(const char* data, unsigned long length);
    bool Truncate();
    void Close() { m_file.Close(); }

private:
    ScopedKernelHandle m_file;
};

// Size of the file at `path`; false when it does not exist.
bool LocalFileSize(const std::string& path, uint64_t* size);
