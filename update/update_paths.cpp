#include "update/update_paths.h"

#include <windows.h>

std::string GetModuleDir() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    size_t slash = dir.find_last_of('\\');
    return slash == std::string::npos ? std::string() : dir.substr(0, slash);
}

std::string JoinPath(const std::string& head, const std::string& tail) {
    size_t headEnd = head.find_last_not_of('\\');
    size_t tailStart = tail.find_first_not_of('\\');
    std::string joined = headEnd == std::string::npos ? std::string() : head.substr(0, headEnd + 1);
    joined += '\\';
    if (tailStart != std::string::npos) joined += tail.substr(tailStart);
    return joined;
}
