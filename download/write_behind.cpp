#include "download/write_behind.h"

namespace {

constexpr size_t kMostBlocks = 4;
// Written bytes put on the disk ahead of the download's own flushes.
constexpr uint64_t kFlushAheadBytes = 16 * 1024 * 1024;

}  // namespace

// Reserved once: a growing list would move the blocks' pointers while the writing thread reads them.
WriteBehind::WriteBehind(HANDLE file) : m_file(file) { m_blocks.reserve(kMostBlocks); }

WriteBehind::~WriteBehind() {
    {
        Monitor::Hold lock(m_monitor);
        lock.Wait([this] { return m_waiting.empty() && !m_busy; });
        m_closing = true;
    }
    m_monitor.WakeAll();
    if (m_thread.joinable()) m_thread.join();
    if (m_flusher.joinable()) m_flusher.join();
}

bool WriteBehind::Write(uint64_t offset, std::unique_ptr<char[]>* block, size_t size) {
    if (size == 0) return true;
    {
        Monitor::Hold lock(m_monitor);
        if (m_free.empty() && m_blocks.size() < kMostBlocks) {
            m_blocks.emplace_back(new char[kBlockSize]);
            m_free.push_back(m_blocks.size() - 1);
        }
        lock.Wait([this] { return !m_free.empty() || m_error != 0; });
        if (m_error != 0) {
            SetLastError(m_error);
            return false;
        }
        const size_t free = m_free.back();
        m_free.pop_back();
        m_blocks[free].swap(*block);
        m_waiting.push_back(Piece{free, offset, size});
        if (!m_thread.joinable()) m_thread = std::thread(&WriteBehind::Run, this);
    }
    m_monitor.WakeAll();
    return true;
}

bool WriteBehind::Wait() {
    Monitor::Hold lock(m_monitor);
    lock.Wait([this] { return m_waiting.empty() && !m_busy; });
    if (m_error == 0) return true;
    SetLastError(m_error);
    return false;
}

void WriteBehind::Run() {
    Monitor::Hold lock(m_monitor);
    for (;;) {
        lock.Wait([this] { return !m_waiting.empty() || m_closing; });
        if (m_waiting.empty()) return;
        const Piece piece = m_waiting.front();
        m_waiting.pop_front();
        const bool failedBefore = m_error != 0;
        m_busy = true;
        lock.Release();
        // After a failure nothing more is written: the file ends where the first failure left it.
        DWORD error = 0;
        if (!failedBefore && !WriteOne(piece)) error = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
        lock.Acquire();
        if (error != 0 && m_error == 0) m_error = error;
        m_unflushed += piece.size;
        if (error == 0 && m_unflushed >= kFlushAheadBytes) {
            m_unflushed = 0;
            m_flushWanted = true;
            if (!m_flusher.joinable()) m_flusher = std::thread(&WriteBehind::FlushAhead, this);
        }
        m_free.push_back(piece.block);
        m_busy = false;
        m_monitor.WakeAll();
    }
}

void WriteBehind::FlushAhead() {
    Monitor::Hold lock(m_monitor);
    for (;;) {
        lock.Wait([this] { return m_flushWanted || m_closing; });
        if (!m_flushWanted) return;
        m_flushWanted = false;
        lock.Release();
        // Only ahead of time: the download's own flush still says when its bytes are safe.
        ::FlushFileBuffers(m_file);
        lock.Acquire();
    }
}

bool WriteBehind::WriteOne(const Piece& piece) {
    const char* data = m_blocks[piece.block].get();
    size_t size = piece.size;
    uint64_t offset = piece.offset;
    while (size > 0) {
        DWORD written = 0;
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        OVERLAPPED* where = piece.offset == kAtPosition ? nullptr : &at;
        if (!::WriteFile(m_file, data, static_cast<DWORD>(size), &written, where)) return false;
        if (written == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        data += written;
        size -= written;
        if (piece.offset != kAtPosition) offset += written;
    }
    return true;
}
