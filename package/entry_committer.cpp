#include "package/entry_committer.h"

#include "components/unzip/Unzip.h"
#include "package/install_record.h"

namespace {

// Side files handed over and not yet committed: each holds an open handle.
constexpr size_t kMostWaiting = 64;

// A plain file's size and last-write time, as the next plan will see them.
bool SizeAndTime(const std::wstring& path, uint64_t* size, uint64_t* lastWrite) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    *lastWrite = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                 data.ftLastWriteTime.dwLowDateTime;
    return true;
}

}  // namespace

EntryCommitter::~EntryCommitter() {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_waiting.empty() && !m_busy; });
        m_closing = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

bool EntryCommitter::Hand(Job job) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_waiting.size() < kMostWaiting || !m_failedPath.empty(); });
    if (!m_failedPath.empty()) return false;
    m_waiting.push_back(std::move(job));
    if (!m_thread.joinable()) m_thread = std::thread(&EntryCommitter::Run, this);
    m_changed.notify_all();
    return true;
}

bool EntryCommitter::Settle(InstallRecord* record) {
    std::vector<Committed> committed;
    bool failed = false;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_waiting.empty() && !m_busy; });
        committed.swap(m_committed);
        failed = !m_failedPath.empty();
    }
    if (record) {
        for (const Committed& c : committed) record->Remember(c.gbkPath, c.size, c.lastWrite, c.sha256);
    }
    return !failed;
}

std::string EntryCommitter::FailedPath() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failedPath;
}

void EntryCommitter::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return !m_waiting.empty() || m_closing; });
        if (m_waiting.empty()) return;
        Job job = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_busy = true;
        lock.unlock();
        // After a failure nothing more replaces a file: the side files are discarded.
        if (FailedPath().empty()) Commit(job);
        job.file.reset();
        lock.lock();
        m_busy = false;
        m_changed.notify_all();
    }
}

void EntryCommitter::Commit(Job& job) {
    if (job.file->Commit(job.hasTime ? &job.modified : nullptr) != UNZIP_OK) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_failedPath.empty()) m_failedPath = job.shownPath;
        return;
    }
    Committed done;
    done.gbkPath = job.recordPath;
    done.sha256 = job.sha256;
    if (!SizeAndTime(job.fullPath, &done.size, &done.lastWrite)) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_committed.push_back(std::move(done));
}
