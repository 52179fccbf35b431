#pragma once
// Progress of each archive being unpacked, keyed by its full path without regard to case, so
// the updater can poll with the same path from another thread.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace unzip {

class CProgressRecord {
public:
    void SetTotal(uint64_t total);
    void AddDone(uint64_t bytes);
    float Fraction() const;

private:
    friend class CProgressRegistry;
    enum EState { kIdle, kRunning, kSucceeded, kFailed };
    mutable std::mutex m_mutex;
    EState m_state = kIdle;
    uint64_t m_nTotal = 0;
    uint64_t m_nDone = 0;
};

class CProgressRegistry {
public:
    // Starts a fresh count for `key`; nullptr if an unpack of the same archive is running.
    static std::shared_ptr<CProgressRecord> Begin(const std::wstring& key);
    static void End(CProgressRecord& record, bool succeeded);
    // 0.0 for an archive never unpacked.
    static float Fraction(const std::wstring& key);
};

}  // namespace unzip
