#pragma once
// One call of OnUpdateFile: checks the whole directory first, then unpacks entry by entry.
#include <string>

namespace unzip {

// The archive path as given (GBK, maybe relative) to its full wide form; false if invalid.
bool ArchiveFullPath(const char* gbkPath, std::wstring& fullPath);

// Unpacks the archive at `fullPath` into its folder, reporting progress under that path.
int UnpackArchive(const std::wstring& fullPath);

}  // namespace unzip
