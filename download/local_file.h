#pragma once
// The file a download writes (its side file), 64-bit sizes throughout. Paths are GBK text;
// the wide calls keep Chinese names right whatever the ANSI code page. The bytes reach the
// file on a thread of its own (WriteBehind): a failed write shows in the next call.
#include <cstdint>
#include <memory>
#include <string>

#include "download/body_reader.h"
#include "download/write_behind.h"
#include "framework/scoped_handle.h"

class LocalFile {
public:
    // Opens `path` for writing at `offset`, creating the file and its folders when missing and
    // cutting off anything after `offset`. Shows its own error box.
    bool OpenAt(const std::string& path, uint64_t offset);

    // Opens `path` for positioned writes, creating it when missing and keeping every byte it
    // holds: several connections fill their own parts of it. Shows its own error box.
    bool OpenKeeping(const std::string& path);

    // Append and WriteAt write the first `length` bytes of the reader's last read. They take its
    // buffer instead of copying it, and leave it an empty one.
    bool Append(BodyReader& reader, unsigned long length);
    // Writes at `offset` whatever the file position; safe from several threads at once.
    bool WriteAt(uint64_t offset, BodyReader& reader, unsigned long length);
    bool Truncate();
    // Puts what was written on the disk itself (FlushFileBuffers).
    bool Flush();
    // Waits for the writes and closes the file. False when a write failed (GetLastError).
    bool Close();

private:
    void ShowOpenError(const std::string& path, bool existed);
    bool Opened(HANDLE file);
    bool WritesDone() { return !m_behind || m_behind->Wait(); }

    ScopedKernelHandle m_file;
    std::unique_ptr<WriteBehind> m_behind;  // after the handle: it goes first, its writes done
};

// Size of the file at `path`; false when there is no file (nothing, or a folder).
bool LocalFileSize(const std::string& path, uint64_t* size);

// Deletes a file; a missing one is fine.
void DeleteLocalFile(const std::string& path);
