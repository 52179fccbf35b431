#include "package/entry_writer.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include <zlib.h>

#include "components/unzip/Unzip.h"
#include "components/unzip/entry_extractor.h"
#include "framework/gbk_text.h"

namespace {

// Content waits in a few blocks of this size: enough for the threads to overlap, small enough
// to stay in the processor's cache between the copy and the writes.
constexpr size_t kBlockSize = 256 * 1024;
constexpr size_t kBlockCount = 8;
// Steps queued at most: thousands of small entries must not open their files far ahead.
constexpr size_t kMostWaiting = 256;

std::wstring ParentOf(const std::wstring& relative) {
    size_t slash = relative.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : relative.substr(0, slash);
}

}  // namespace

EntryWriter::EntryWriter(unzip::COutputFolder& output, std::string folder)
    : m_output(output), m_folder(std::move(folder)), m_blocks(kBlockCount) {
    for (size_t i = 0; i < kBlockCount; ++i) {
        m_blocks[i].resize(kBlockSize);
        m_freeBlocks.push_back(i);
    }
}

EntryWriter::~EntryWriter() {
    {
        Monitor::Hold lock(m_monitor);
        lock.Wait([this] { return m_work.empty() && !m_busy; });
        m_closing = true;
    }
    m_monitor.WakeAll();
    if (m_thread.joinable()) m_thread.join();
}

std::string EntryWriter::ShownPath(const ManifestEntry& entry) const {
    std::string shown = m_folder;
    if (!shown.empty() && shown.back() != '\\') shown += '\\';
    return shown + WideToGbk(entry.relativePath);
}

bool EntryWriter::Begin(const ManifestEntry& entry) {
    Work work{Step::Begin, &entry};
    Give(work);
    return !Failed();
}

bool EntryWriter::Write(const unsigned char* data, size_t size) {
    while (size > 0) {
        size_t block = 0;
        {
            Monitor::Hold lock(m_monitor);
            lock.Wait([this] { return !m_freeBlocks.empty() || m_failed; });
            if (m_failed) return false;
            block = m_freeBlocks.back();
            m_freeBlocks.pop_back();
        }
        const size_t piece = std::min(size, kBlockSize);
        memcpy(m_blocks[block].data(), data, piece);
        Work work{Step::Write, nullptr, block, piece};
        Give(work);
        data += piece;
        size -= piece;
    }
    return !Failed();
}

bool EntryWriter::End() {
    Give(Work{Step::End});
    return !Failed();
}

void EntryWriter::Drop() { Give(Work{Step::Drop}); }

bool EntryWriter::Settle(InstallRecord* record) {
    {
        Monitor::Hold lock(m_monitor);
        lock.Wait([this] { return m_work.empty() && !m_busy; });
    }
    const bool committed = m_committer.Settle(record);
    Monitor::Hold lock(m_monitor);
    if (!committed && !m_failed) {
        m_failed = true;
        m_failedPath = m_committer.FailedPath();
        m_failure = "cannot replace the file";
    }
    return !m_failed;
}

bool EntryWriter::Failed() {
    Monitor::Hold lock(m_monitor);
    return m_failed;
}

std::string EntryWriter::FailedPath() {
    Monitor::Hold lock(m_monitor);
    return m_failedPath;
}

std::string EntryWriter::FailureReason() {
    Monitor::Hold lock(m_monitor);
    return m_failure;
}

void EntryWriter::Give(Work work) {
    Monitor::Hold lock(m_monitor);
    lock.Wait([this] { return m_work.size() < kMostWaiting; });
    m_work.push_back(work);
    if (!m_thread.joinable()) m_thread = std::thread(&EntryWriter::Run, this);
    m_monitor.WakeAll();
}

void EntryWriter::Run() {
    const ManifestEntry* current = nullptr;
    Monitor::Hold lock(m_monitor);
    for (;;) {
        lock.Wait([this] { return !m_work.empty() || m_closing; });
        if (m_work.empty()) return;
        Work work = m_work.front();
        m_work.pop_front();
        const bool failed = m_failed;
        m_busy = true;
        lock.Release();
        if (work.step == Step::Begin) current = work.entry;
        work.entry = current;
        // After a failure the rest is dropped: only the blocks go back.
        if (!failed) Do(work);
        if (failed || work.step == Step::Drop) m_file.reset();
        lock.Acquire();
        if (work.step == Step::Write) m_freeBlocks.push_back(work.block);
        m_busy = false;
        m_monitor.WakeAll();
    }
}

void EntryWriter::Do(const Work& work) {
    if (work.step == Step::Drop || !work.entry) return;
    const ManifestEntry& e = *work.entry;
    switch (work.step) {
        case Step::Begin:
            if (e.isDirectory) {
                if (m_output.CreateFolders(e.relativePath) != UNZIP_OK) Fail(e, "cannot create the folder");
            } else {
                BeginFile(e);
            }
            break;
        case Step::Write: {
            const unsigned char* data = m_blocks[work.block].data();
            m_crc = static_cast<uint32_t>(crc32(m_crc, data, static_cast<uInt>(work.size)));
            if (!m_hasher.Add(data, work.size)) {
                Fail(e, "cannot hash");
            } else if (m_file->Write(data, work.size) != UNZIP_OK) {
                Fail(e, "cannot write the file");
            }
            m_written += work.size;
            break;
        }
        case Step::End:
            if (!e.isDirectory) EndFile(e);
            break;
        case Step::Drop: break;
    }
}

bool EntryWriter::BeginFile(const ManifestEntry& e) {
    m_written = 0;
    m_crc = 0;
    std::wstring parent = ParentOf(e.relativePath);
    if (!parent.empty() && m_output.CreateFolders(parent) != UNZIP_OK) return Fail(e, "cannot create the folder");
    m_output.RemoveLeftovers(parent);
    m_file.reset(new unzip::CPartialFile);
    if (m_file->Create(m_output.FullPath(e.relativePath)) != UNZIP_OK) return Fail(e, "cannot create the file");
    if (!m_hasher.Begin()) return Fail(e, "cannot hash");
    return true;
}

bool EntryWriter::EndFile(const ManifestEntry& e) {
    std::string sha256;
    if (m_written != e.size || m_crc != e.crc32 || !m_hasher.Finish(&sha256) || sha256 != e.sha256)
        return Fail(e, "content does not match the manifest");
    unzip::CZipEntry times;
    times.hasUnixTime = e.hasUnixTime;
    times.unixTime = e.unixTime;
    times.dosDate = e.dosDate;
    times.dosTime = e.dosTime;
    EntryCommitter::Job job;
    job.hasTime = unzip::EntryModifiedTime(times, job.modified);
    job.file = std::move(m_file);
    job.fullPath = m_output.FullPath(e.relativePath);
    job.recordPath = WideToGbk(job.fullPath);
    job.shownPath = ShownPath(e);
    job.sha256 = e.sha256;
    if (m_committer.Hand(std::move(job))) return true;
    Monitor::Hold lock(m_monitor);
    m_failed = true;
    m_failedPath = m_committer.FailedPath();
    m_failure = "cannot replace the file";
    return false;
}

bool EntryWriter::Fail(const ManifestEntry& e, const char* reason) {
    m_file.reset();
    Monitor::Hold lock(m_monitor);
    if (!m_failed) {
        m_failed = true;
        m_failedPath = ShownPath(e);
        m_failure = reason;
    }
    m_monitor.WakeAll();
    return false;
}
