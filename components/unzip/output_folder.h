#pragma once
// Where the entries land: folders under the archive's own folder, and files written under a
// temporary name that only become the real file once their data has passed every check.
#include <cstdint>
#include <set>
#include <string>

#include "framework/scoped_handle.h"

namespace unzip {

// The code for a failed write or create: UNZIP_E_DISK_FULL or UNZIP_E_WRITE.
int WriteFailureCode(DWORD error);

class COutputFolder {
public:
    // `folder` is a full path. Paths get the "\\?\" form so Windows does not reinterpret the
    // already checked names, and long paths work.
    explicit COutputFolder(const std::wstring& folder);

    // Creates the folder `relative` and its parents as needed. UNZIP_OK or a write failure.
    int CreateFolders(const std::wstring& relative);
    std::wstring FullPath(const std::wstring& relative) const { return m_root + relative; }
    // Deletes the temporary files an earlier, interrupted unpack left in the folder `relative`
    // ("" for the folder itself); once per folder and unpack.
    void RemoveLeftovers(const std::wstring& relative);
    // UNZIP_E_DISK_FULL when `bytes` exceed the free space of the folder's drive. When the
    // system cannot tell, the writes will find out.
    int CheckFreeSpace(uint64_t bytes) const;
    // The bytes free for this user on the folder's drive; false when the system cannot tell.
    bool FreeBytes(uint64_t* bytes) const;

private:
    std::wstring m_root;  // ends with '\'
    std::set<std::wstring> m_made;
    std::set<std::wstring> m_swept;
};

// A file written beside its final place under a temporary name; deleted unless committed.
// It is marked for deletion from its creation on, so it also goes when the process ends
// half-way (closed or killed): the system deletes it with the last handle.
class CPartialFile {
public:
    CPartialFile() = default;
    ~CPartialFile();
    CPartialFile(const CPartialFile&) = delete;
    CPartialFile& operator=(const CPartialFile&) = delete;

    // `target` is the final full path; its folder must exist.
    int Create(const std::wstring& target);
    int Write(const void* data, size_t size);
    // Sets the modification time (if any), closes, and replaces the target with the file.
    int Commit(const FILETIME* modified);

private:
    void Discard();
    bool MarkForDeletion(bool deleteOnClose);

    ScopedKernelHandle m_file;
    std::wstring m_strTemp;
    std::wstring m_strTarget;
    bool m_bMarked = false;  // marked for deletion with its last handle
};

}  // namespace unzip
