#pragma once
// Replaces installed files with their checked side files on a thread of its own, in the order
// they were handed over. A commit waits for the disk (the side file is flushed before its
// rename), and the next entries can inflate and hash meanwhile.
#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "components/unzip/output_folder.h"

class InstallRecord;

class EntryCommitter {
public:
    EntryCommitter() = default;
    // Waits for what was handed over: a side file is never left half committed.
    ~EntryCommitter();
    EntryCommitter(const EntryCommitter&) = delete;
    EntryCommitter& operator=(const EntryCommitter&) = delete;

    // What to commit: the checked side file, the modification time to give it (or none), its
    // destination, the record's key for it (GBK), the path a failure names and the content's
    // SHA-256 for the record.
    struct Job {
        std::unique_ptr<unzip::CPartialFile> file;
        bool hasTime = false;
        FILETIME modified = {};
        std::wstring fullPath;
        std::string recordPath;
        std::string shownPath;
        std::string sha256;
    };
    // Hands over a job. Waits while many are still to commit, so the open side files stay few.
    // False when an earlier commit failed: FailedPath() tells which.
    bool Hand(Job job);
    // Waits until everything handed over is committed, and tells `record` (if any) of each file
    // now in place. False when a commit failed.
    bool Settle(InstallRecord* record);
    // The shown path of the first file that could not be committed; empty while none failed.
    std::string FailedPath();

private:
    struct Committed {
        std::string gbkPath;
        uint64_t size = 0;
        uint64_t lastWrite = 0;
        std::string sha256;
    };
    void Run();
    void Commit(Job& job);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Job> m_waiting;
    std::vector<Committed> m_committed;  // for the record, told on the handing thread
    bool m_busy = false;                 // the thread is committing a job taken off the queue
    bool m_closing = false;
    std::string m_failedPath;
    std::thread m_thread;
};
