#pragma once
// Writes the entries of a stream install on a thread of its own: while the stream's thread reads
// and inflates the next bytes, this one creates the side files, computes CRC-32 and SHA-256,
// writes, checks each entry against the manifest and hands it on to be put in place. Work is
// done in the order it was given; after a failure the rest is dropped.
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "components/unzip/output_folder.h"
#include "framework/monitor.h"
#include "framework/sha256.h"
#include "package/entry_committer.h"
#include "package/package_manifest.h"

class InstallRecord;

class EntryWriter {
public:
    // Entries go under `output`; `folder` is its GBK form, for the paths a failure names.
    EntryWriter(unzip::COutputFolder& output, std::string folder);
    // Waits for the work given: no side file is left half written or half committed.
    ~EntryWriter();
    EntryWriter(const EntryWriter&) = delete;
    EntryWriter& operator=(const EntryWriter&) = delete;

    // An entry starts (a folder entry is made at once, a file entry gets its side file); its
    // content follows through Write, and End checks it. False once anything has failed.
    bool Begin(const ManifestEntry& entry);
    bool Write(const unsigned char* data, size_t size);
    bool End();
    // Drops the entry under way (its side file goes); the entries ended before stay.
    void Drop();
    // Waits until everything given is written and put in place, and tells `record` (if any) of
    // each file in place. False when anything failed.
    bool Settle(InstallRecord* record);

    // After a failure: the GBK path of the entry that failed, and a short English reason.
    bool Failed();
    std::string FailedPath();
    std::string FailureReason();
    // The path a failure of `entry` names.
    std::string ShownPath(const ManifestEntry& entry) const;

private:
    enum class Step { Begin, Write, End, Drop };
    struct Work {
        Step step;
        const ManifestEntry* entry = nullptr;
        size_t block = 0;   // Write: the block holding the content
        size_t size = 0;
    };
    void Give(Work work);
    void Run();
    void Do(const Work& work);
    bool BeginFile(const ManifestEntry& e);
    bool EndFile(const ManifestEntry& e);
    bool Fail(const ManifestEntry& e, const char* reason);

    unzip::COutputFolder& m_output;
    const std::string m_folder;

    // Shared with the thread.
    Monitor m_monitor;
    std::deque<Work> m_work;
    std::vector<std::vector<unsigned char>> m_blocks;
    std::vector<size_t> m_freeBlocks;
    bool m_busy = false;
    bool m_closing = false;
    bool m_failed = false;
    std::string m_failedPath;
    std::string m_failure;

    // The thread's own: the entry under way.
    std::unique_ptr<unzip::CPartialFile> m_file;
    uint64_t m_written = 0;
    uint32_t m_crc = 0;
    Sha256Hasher m_hasher;
    EntryCommitter m_committer;
    std::thread m_thread;
};
