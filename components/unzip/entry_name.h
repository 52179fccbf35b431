#pragma once
// Entry names: decoding (UTF-8 when the archive says so, GBK otherwise) and the checks that
// keep every entry inside the archive's folder.
#include <string>

#include "components/unzip/zip_directory.h"

namespace unzip {

constexpr unsigned kGbkCodePage = 936;

// Strict conversion: bytes that are not valid in the code page make it fail.
bool DecodeText(const std::string& bytes, unsigned codePage, std::wstring& text);

// Turns a decoded name into a path relative to the archive's folder, with '\' separators.
// Both '/' and '\' separate parts; empty and "." parts are dropped. Refuses absolute, drive,
// UNC and ".." names, control and wildcard characters, ':' anywhere (drives and alternate
// streams), parts ending in '.' or ' ' (Windows would silently change them) and device names
// such as "CON" or "nul.txt". `isDirectory` tells whether the name ended with a separator.
bool MakeSafeRelativePath(const std::wstring& name, std::wstring& path, bool& isDirectory);

// Both steps for a directory entry: UNZIP_OK or UNZIP_E_UNSAFE_NAME.
int MakeEntryPath(const CZipEntry& entry, std::wstring& path, bool& isDirectory);

}  // namespace unzip
