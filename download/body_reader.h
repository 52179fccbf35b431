#pragma once
// Reads a response body in pieces sized to the connection. A synchronous InternetReadFile
// returns only when its buffer is full (or the body ends), and under Wine neither
// InternetQueryDataAvailable (it reports at most its own 8 KiB buffer) nor IRF_NO_WAIT tells
// more, so the piece size follows the measured time per read instead: it doubles while
// reads come back within 50 ms and halves when one takes over 150 ms. A fast link reads
// 1 MiB at a time; a slow one still returns about every tenth of a second, so progress moves
// and a stop is seen.
#include <windows.h>
#include <wininet.h>

#include <memory>

class BodyReader {
public:
    static constexpr DWORD kSmallestRead = 16 * 1024;
    static constexpr DWORD kLargestRead = 1024 * 1024;

    BodyReader();

    // Reads the next piece; `*got` 0 at the end of the body. False when the read fails.
    bool Read(HINTERNET request, DWORD* got);
    const char* Data() const { return m_buffer.get(); }
    DWORD NextReadSize() const { return m_readSize; }
    // The buffer the last read filled, for a taker that keeps it instead of copying its bytes;
    // what it puts in its place must be kLargestRead long too.
    std::unique_ptr<char[]>& Buffer() { return m_buffer; }

private:
    std::unique_ptr<char[]> m_buffer;  // as large as the largest read
    DWORD m_readSize = kSmallestRead;
    LARGE_INTEGER m_frequency;
};
