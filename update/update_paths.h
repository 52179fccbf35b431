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

// A path from an update list that the engine writes, unpacks or deletes: joined to the
// program's folder (as the downloads, "REDC" and the archive deletion join it; for a relative
// path that is also where it resolves), it must stay inside that folder. Otherwise an error
// box names the path and the answer is false: the task must end.
bool CheckPathInsideProgramFolder(const std::string& listPath);
