#pragma once
// What the updater installed: per file (full path, GBK) its size, last-write time and SHA-256,
// kept in "updater-installed.txt" beside updater.exe, replaced atomically (side file, flush,
// MoveFileExW write-through). A missing or damaged file counts as empty (every file is read once).
#include <cstdint>
#include <map>
#include <string>

class InstallRecord {
public:
    explicit InstallRecord(std::string path);            // the record file's full path
    static std::string DefaultPath();                    // updater-installed.txt beside the program
    void Load();
    // The recorded SHA-256 of `fullPath` when its size and last-write time (FILETIME as uint64) are
    // the recorded ones; empty otherwise.
    std::string HashIfUnchanged(const std::string& fullPath, uint64_t size, uint64_t lastWrite) const;
    void Remember(const std::string& fullPath, uint64_t size, uint64_t lastWrite, const std::string& sha256);
    bool Save() const;                                   // false: traced; installs go on

private:
    struct Item {
        uint64_t size = 0;
        uint64_t lastWrite = 0;
        std::string sha256;
        std::string path;  // as given, for the file
    };
    std::string m_path;
    std::map<std::wstring, Item> m_items;  // by the lower-case wide path: paths differ only in case
};
