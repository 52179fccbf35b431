#pragma once
// Replaces installed files with their checked side files on threads of their own. A commit
// waits for the disk (the side file is flushed before its rename): meanwhile the next entries
// inflate and hash, and several commits wait together, which the file system serves with one
// journal write instead of one each.
#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "components/unzip/output_folder.h"
#include "framework/monitor.h"

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

    Monitor m_monitor;
    std::deque<Job> m_waiting;
    std::vector<Committed> m_committed;  // for the record, told on the handing thread
    int m_busy = 0;                      // threads committing a job taken off the queue
    bool m_closing = false;
    std::string m_failedPath;
    std::vector<std::thread> m_threads;
};
