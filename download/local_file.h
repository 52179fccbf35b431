#pragma once
// The file a download writes (its side file), 64-bit sizes throughout. Paths are GBK text;
// the wide calls keep Chinese names right whatever the ANSI code page.
#include <cstdint>
#include <string>

#include "framework/scoped_handle.h"

class LocalFile {
public:
    // Opens `path` for writing at `offset`, creating the file and its folders when missing and
    // cutting off anything after `offset`. Shows its own error box.
    bool OpenAt(const std::string& path, uint64_t offset);

    // Opens `path` for positioned writes, creating it when missing and keeping every byte it
    // holds: several connections fill their own parts of it. Shows its own error box.
    bool OpenKeeping(const std::string& path);

    bool Append(const char* data, unsigned long length);
    // Writes at `offset` whatever the file position; safe from several threads at once.
    bool WriteAt(uint64_t offset, const char* data, unsigned long length);
    bool Truncate();
    // Puts what was appended on the disk itself (FlushFileBuffers).
    bool Flush();
    void Close() { m_file.Close(); }

private:
    void ShowOpenError(const std::string& path, bool existed);

    ScopedKernelHandle m_file;
};

// Size of the file at `path`; false when there is no file (nothing, or a folder).
bool LocalFileSize(const std::string& path, uint64_t* size);

// Deletes a file; a missing one is fine.
void DeleteLocalFile(const std::string& path);
