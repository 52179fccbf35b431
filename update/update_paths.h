#pragma once
#include <string>

// The program file's folder, without a trailing backslash (GBK, like every path we hold).
std::string GetModuleDir();

// head without its trailing backslashes + one backslash + tail without its leading ones.
std::string JoinPath(const std::string& head, const std::string& tail);

// True when the full path `path` lies below the full path `folder` once the system has
// resolved its "." and ".." parts the way every file call would; the folder itself is not
// below itself. Both are GBK.
bool IsInsideFolder(const std::string& folder, const std::string& path);

// How far a path of an update list may reach.
enum class PathRule {
    // Only a plain relative path that stays below the program's folder: what the list
    // downloads, unpacks or removes as a whole ("DEC", "REDC") belongs there.
    InsideOnly,
    // Also an absolute path (drive, UNC or device form), taken as written; a path from the
    // root ("\x") starts at the root of the program's folder.
    AbsoluteAllowed,
};

// A path of an update list: what messages show, and what every file call uses.
struct ListPath {
    std::string written;  // as the list names it
    std::string full;     // resolved once, in full; the path that was checked
};

// Resolves `path` without the current directory: a relative path is joined to the program's
// folder and must stay below it; drive-relative ("C:x") and stream ("name:stream") forms are
// never taken, nor text that is not GBK. A refused path gets the error box and false: the
// task must end.
bool ResolveListPath(const std::string& path, PathRule rule, ListPath* resolved);
// The same without a message, for a look that decides nothing by itself.
bool TryResolveListPath(const std::string& path, PathRule rule, ListPath* resolved);
