#include "components/unzip/progress_registry.h"

#include <windows.h>

#include <map>

namespace unzip {
namespace {

// Ordinal comparison without regard to case: independent of the machine's locale.
struct CNoCaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                    static_cast<int>(b.size()), TRUE) == CSTR_LESS_THAN;
    }
};

std::mutex g_mutex;
// Records stay after their unpack ends so a late poll still reads 1.0; one per archive path.
std::map<std::wstring, std::shared_ptr<CProgressRecord>, CNoCaseLess> g_records;

}  // namespace

void CProgressRecord::SetTotal(uint64_t total) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nTotal = total;
}

void CProgressRecord::AddDone(uint64_t bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nDone += bytes;
}

float CProgressRecord::Fraction() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_state == kSucceeded) return 1.0f;
    if (m_nTotal == 0 || m_nDone == 0) return 0.0f;
    if (m_nDone >= m_nTotal) return 1.0f;
    return static_cast<float>(static_cast<double>(m_nDone) / static_cast<double>(m_nTotal));
}

std::shared_ptr<CProgressRecord> CProgressRegistry::Begin(const std::wstring& key) {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::shared_ptr<CProgressRecord>& record = g_records[key];
    if (!record) record = std::make_shared<CProgressRecord>();
    std::lock_guard<std::mutex> recordLock(record->m_mutex);
    if (record->m_state == CProgressRecord::kRunning) return nullptr;
    record->m_state = CProgressRecord::kRunning;
    record->m_nTotal = 0;
    record->m_nDone = 0;
    record->m_bCancel = false;
    return record;
}

void CProgressRegistry::End(CProgressRecord& record, bool succeeded) {
    std::lock_guard<std::mutex> lock(record.m_mutex);
    record.m_state = succeeded ? CProgressRecord::kSucceeded : CProgressRecord::kFailed;
}

void CProgressRegistry::Cancel(const std::wstring& key) {
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_records.find(key);
    if (it == g_records.end()) return;
    std::lock_guard<std::mutex> recordLock(it->second->m_mutex);
    if (it->second->m_state == CProgressRecord::kRunning) it->second->m_bCancel = true;
}

float CProgressRegistry::Fraction(const std::wstring& key) {
    std::shared_ptr<CProgressRecord> record;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        auto it = g_records.find(key);
        if (it == g_records.end()) return 0.0f;
        record = it->second;
    }
    return record->Fraction();
}

}  // namespace unzip
