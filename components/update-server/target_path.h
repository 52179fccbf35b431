#pragma once
// The request target as a path under the served folder. Only names that stay inside the
// folder come out; no file system access here.
#include <string>

namespace updsrv {

// "/games/a%20b.txt?x=1" -> L"games\\a b.txt". The query is dropped, the rest percent-decoded,
// empty and "." segments skipped. Refused, with `error` saying why: ".." segments, drive
// letters and streams (':'), backslashes, NUL and other control characters, characters
// Windows forbids in names, names ending in '.' or ' ' (Windows would strip them), device
// names (CON, NUL, COM1, ...), malformed escapes, and targets not starting with '/'.
// "/" gives an empty path: the folder itself.
bool TargetToRelativePath(const std::string& target, std::wstring& path, std::string& error);

}  // namespace updsrv
