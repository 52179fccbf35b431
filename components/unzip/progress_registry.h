#pragma once
// Progress of each archive being unpacked, keyed by its full path without regard to case, so
// the updater can poll with the same path from another thread.
#include <atomic>
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
    // Set by UnzipCancel from any thread; the unpack looks at it between blocks.
    bool IsCancelled() const { return m_bCancel; }

private:
    friend class CProgressRegistry;
    enum EState { kIdle, kRunning, kSucceeded, kFailed };
    mutable std::mutex m_mutex;
    EState m_state = kIdle;
    uint64_t m_nTotal = 0;
    uint64_t m_nDone = 0;
    std::atomic<bool> m_bCancel{false};
};

class CProgressRegistry {
public:
    // Starts a fresh count for `key`; nullptr if an unpack of the same archive is running.
    static std::shared_ptr<CProgressRecord> Begin(const std::wstring& key);
    static void End(CProgressRecord& record, bool succeeded);
    // Asks the running unpack of `key`, if any, to stop.
    static void Cancel(const std::wstring& key);
    // 0.0 for an archive never unpacked.
    static float Fraction(const std::wstring& key);
};

}  // namespace unzip
