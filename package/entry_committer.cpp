#include "package/entry_committer.h"

#include "components/unzip/Unzip.h"
#include "package/install_record.h"

namespace {

// Side files handed over and not yet committed: each holds an open handle.
constexpr size_t kMostWaiting = 64;
// Commits under way at once.
constexpr size_t kThreads = 4;

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
        Monitor::Hold lock(m_monitor);
        lock.Wait([this] { return m_waiting.empty() && m_busy == 0; });
        m_closing = true;
    }
    m_monitor.WakeAll();
    for (std::thread& thread : m_threads) thread.join();
}

bool EntryCommitter::Hand(Job job) {
    Monitor::Hold lock(m_monitor);
    lock.Wait([this] { return m_waiting.size() < kMostWaiting || !m_failedPath.empty(); });
    if (!m_failedPath.empty()) return false;
    m_waiting.push_back(std::move(job));
    // One more thread whenever the jobs wait for one, up to the most.
    if (m_waiting.size() > m_threads.size() - static_cast<size_t>(m_busy) && m_threads.size() < kThreads)
        m_threads.emplace_back(&EntryCommitter::Run, this);
    m_monitor.WakeAll();
    return true;
}

bool EntryCommitter::Settle(InstallRecord* record) {
    std::vector<Committed> committed;
    bool failed = false;
    {
        Monitor::Hold lock(m_monitor);
        lock.Wait([this] { return m_waiting.empty() && m_busy == 0; });
        committed.swap(m_committed);
        failed = !m_failedPath.empty();
    }
    if (record) {
        for (const Committed& c : committed) record->Remember(c.gbkPath, c.size, c.lastWrite, c.sha256);
    }
    return !failed;
}

std::string EntryCommitter::FailedPath() {
    Monitor::Hold lock(m_monitor);
    return m_failedPath;
}

void EntryCommitter::Run() {
    Monitor::Hold lock(m_monitor);
    for (;;) {
        lock.Wait([this] { return !m_waiting.empty() || m_closing; });
        if (m_waiting.empty()) return;
        Job job = std::move(m_waiting.front());
        m_waiting.pop_front();
        ++m_busy;
        lock.Release();
        // After a failure nothing more replaces a file: the side files are discarded.
        if (FailedPath().empty()) Commit(job);
        job.file.reset();
        lock.Acquire();
        --m_busy;
        m_monitor.WakeAll();
    }
}

void EntryCommitter::Commit(Job& job) {
    if (job.file->Commit(job.hasTime ? &job.modified : nullptr) != UNZIP_OK) {
        Monitor::Hold lock(m_monitor);
        if (m_failedPath.empty()) m_failedPath = job.shownPath;
        return;
    }
    Committed done;
    done.gbkPath = job.recordPath;
    done.sha256 = job.sha256;
    if (!SizeAndTime(job.fullPath, &done.size, &done.lastWrite)) return;
    Monitor::Hold lock(m_monitor);
    m_committed.push_back(std::move(done));
}
