#pragma once
// Writes a download's bytes to its file on a thread of its own, so the next bytes are read from
// the network while these reach the file. The writes are done in the order they were given;
// the first one that fails stops the rest and is told by every later call. A third thread puts
// the written bytes on the disk every few MiB, so the flush that makes the download durable
// finds little left to do instead of the whole file at its end.
#include <windows.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <thread>
#include <vector>

#include "framework/monitor.h"

class WriteBehind {
public:
    // At the file's position, after the bytes given before (for Write's `offset`).
    static constexpr uint64_t kAtPosition = UINT64_MAX;
    // The blocks are as large as the largest network read, and a few of them let the reads run
    // on while the disk takes the last ones.
    static constexpr size_t kBlockSize = 1024 * 1024;

    explicit WriteBehind(HANDLE file);  // the handle stays its owner's; it must outlive this
    // Waits for the writes given: none is lost.
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Writes the first `size` bytes of `*block` (kBlockSize long) at `offset`, or at the file's
    // position. It takes the block itself, not a copy, and puts a free one in its place (waiting
    // while every block is full). False when an earlier write failed; GetLastError tells why.
    // Safe from several threads at once.
    bool Write(uint64_t offset, std::unique_ptr<char[]>* block, size_t size);
    // Waits until every write given is done. False when one failed; GetLastError tells why.
    bool Wait();

private:
    struct Piece {
        size_t block;
        uint64_t offset;
        size_t size;
    };
    void Run();
    void FlushAhead();
    bool WriteOne(const Piece& piece);

    const HANDLE m_file;
    Monitor m_monitor;
    std::vector<std::unique_ptr<char[]>> m_blocks;  // made as needed, up to the most
    std::vector<size_t> m_free;
    std::deque<Piece> m_waiting;
    bool m_busy = false;
    bool m_closing = false;
    DWORD m_error = 0;  // of the first write that failed
    uint64_t m_unflushed = 0;  // bytes written since the last flush ahead began
    bool m_flushWanted = false;
    std::thread m_thread;
    std::thread m_flusher;
};
