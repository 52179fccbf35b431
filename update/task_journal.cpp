#include "update/task_journal.h"

#include <windows.h>

#include <cstdlib>

#include "framework/gbk_text.h"
#include "framework/scoped_handle.h"
#include "framework/sha256.h"
#include "framework/trace.h"
#include "update/update_paths.h"

namespace {

constexpr DWORD kJournalLimit = 1024;  // five short lines

std::wstring NewPath(const std::string& path) { return GbkToWide(path + ".new"); }

std::string ReadJournal(const std::string& path) {
    ScopedKernelHandle file(::CreateFileW(GbkToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return std::string();
    std::string text(kJournalLimit, '\0');
    DWORD got = 0;
    if (!::ReadFile(file.Get(), &text[0], kJournalLimit, &got, nullptr)) return std::string();
    text.resize(got);
    return text;
}

// The value of the line "<name>=<value>\r\n" that starts at `*position`; false when the line
// is not that one.
bool TakeLine(const std::string& text, const char* name, size_t* position, std::string* value) {
    const std::string head = std::string(name) + "=";
    size_t end = text.find("\r\n", *position);
    if (end == std::string::npos || text.compare(*position, head.size(), head) != 0) return false;
    *value = text.substr(*position + head.size(), end - *position - head.size());
    *position = end + 2;
    return true;
}

bool ParseCount(const std::string& text, int* count) {
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0 || value > 1000000) return false;
    *count = static_cast<int>(value);
    return true;
}

// Written beside the journal, flushed to the disk, then moved over it in one step: a power
// loss leaves either the old journal or the new one.
bool ReplaceJournal(const std::string& path, const std::string& text) {
    const std::wstring side = NewPath(path);
    {
        ScopedKernelHandle file(
            ::CreateFileW(side.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file.IsValid() ||
            !::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size() || !::FlushFileBuffers(file.Get())) {
            return false;
        }
    }
    return ::MoveFileExW(side.c_str(), GbkToWide(path).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

}  // namespace

std::string UpdateListKey(const std::string& listBytes) {
    std::string key;
    return BytesSha256(listBytes, &key) ? key : std::string();
}

std::string TaskJournalPath(const std::string& listUrl) {
    std::string hex;
    if (!BytesSha256(listUrl, &hex)) hex = "0000000000000000";
    return JoinPath(GetModuleDir(), "updater-" + hex.substr(0, 16) + ".journal");
}

TaskJournal::TaskJournal(const std::string& listUrl, std::string listKey)
    : m_path(TaskJournalPath(listUrl)), m_key(std::move(listKey)) {
    if (m_key.empty()) return;
    // A side file of a write that was cut short holds nothing the journal doesn't.
    ::DeleteFileW(NewPath(m_path).c_str());
    const std::string text = ReadJournal(m_path);
    size_t position = 0;
    std::string key, done, fetched;
    if (TakeLine(text, "list", &position, &key) && key == m_key && TakeLine(text, "done", &position, &done) &&
        ParseCount(done, &m_done) && TakeLine(text, "fetched", &position, &fetched) &&
        (fetched == "0" || fetched == "1")) {
        m_bFetched = fetched == "1";
        // Lines a journal of an earlier version lacks: nothing unpacked, nothing re-entered.
        std::string unpacked, reentry;
        if (TakeLine(text, "unpacked", &position, &unpacked)) m_bUnpacked = unpacked == "1";
        if (TakeLine(text, "reentry", &position, &reentry) && !ParseCount(reentry, &m_reentry)) m_reentry = 0;
        m_bResumed = true;
        TraceLine("tor1: the list ran before up to list[%d]%s; it goes on there", m_done,
                  m_bUnpacked ? " (unpacked)" : m_bFetched ? " (downloaded)" : "");
        return;
    }
    // Another list, or none: this one starts from its top, and a cut from now on is known.
    m_done = 0;
    Write();
}

void TaskJournal::MarkFetched(int index) {
    if (m_key.empty() || index != m_done) return;
    m_bFetched = true;
    Write();
}

void TaskJournal::ForgetFetched(int index) {
    if (m_key.empty() || index != m_done || !m_bFetched) return;
    m_bFetched = false;
    Write();
}

void TaskJournal::MarkUnpacked(int index) {
    if (m_key.empty() || index != m_done) return;
    m_bUnpacked = true;
    Write();
}

void TaskJournal::SendBackTo(int fetcher, int index) {
    if (m_key.empty() || index != m_done || fetcher > index) return;
    m_done = fetcher;
    m_reentry = index;
    m_bFetched = false;
    m_bUnpacked = false;
    Write();
}

void TaskJournal::MarkDone(int index) {
    if (m_key.empty() || index < m_done) return;
    m_done = index + 1;
    m_bFetched = false;
    m_bUnpacked = false;
    m_bResumed = false;
    if (m_done >= m_reentry) m_reentry = 0;
    Write();
}

void TaskJournal::Finish() {
    if (m_key.empty()) return;
    ::DeleteFileW(GbkToWide(m_path).c_str());
    ::DeleteFileW(NewPath(m_path).c_str());
    m_key.clear();
}

void TaskJournal::Write() {
    std::string text = "list=" + m_key + "\r\ndone=" + std::to_string(m_done) + "\r\nfetched=" +
                       (m_bFetched ? "1" : "0") + "\r\nunpacked=" + (m_bUnpacked ? "1" : "0") +
                       "\r\nreentry=" + std::to_string(m_reentry) + "\r\n";
    // Without a journal a cut costs a rerun from the top, nothing worse.
    if (!ReplaceJournal(m_path, text)) TraceLine("tor1: the journal can't be written, error %lu", ::GetLastError());
}
