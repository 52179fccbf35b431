#include "file_sender.h"

#include <mswsock.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

namespace updsrv {

namespace {

int Mode() {
    static int mode = [] {
        const char* v = getenv("UPDATE_SERVER_SEND_MODE");
        return v ? atoi(v) : 0;
    }();
    return mode;
}
size_t Chunk() {
    static size_t n = [] {
        const char* v = getenv("UPDATE_SERVER_CHUNK_KB");
        return static_cast<size_t>(v ? atoi(v) : 1024) * 1024;
    }();
    return n;
}

bool SendReadLoop(SOCKET s, const std::string& head, HANDLE file, uint64_t nFirst, uint64_t nLength,
                  uint64_t& nBodySent) {
    LARGE_INTEGER pos;
    pos.QuadPart = static_cast<LONGLONG>(nFirst);
    if (!SetFilePointerEx(file, pos, nullptr, FILE_BEGIN)) return false;
    const size_t nChunk = Chunk();
    std::unique_ptr<char[]> buffer(new char[head.size() + nChunk]);
    size_t nHead = head.size();
    memcpy(buffer.get(), head.data(), nHead);
    uint64_t nLeft = nLength;
    do {
        DWORD nWant = static_cast<DWORD>(std::min<uint64_t>(nLeft, nChunk));
        DWORD nRead = 0;
        if (nWant > 0 && (!ReadFile(file, buffer.get() + nHead, nWant, &nRead, nullptr) || nRead == 0)) {
            if (nHead) SendAll(s, buffer.get(), nHead);
            return false;
        }
        if (!SendAll(s, buffer.get(), nHead + nRead)) return false;
        nBodySent += nRead;
        nLeft -= nRead;
        nHead = 0;
    } while (nLeft > 0);
    return true;
}

bool SendTransmit(SOCKET s, const std::string& head, HANDLE file, uint64_t nFirst, uint64_t nLength,
                  uint64_t& nBodySent) {
    LARGE_INTEGER pos;
    pos.QuadPart = static_cast<LONGLONG>(nFirst);
    if (!SetFilePointerEx(file, pos, nullptr, FILE_BEGIN)) return false;
    TRANSMIT_FILE_BUFFERS buffers = {};
    buffers.Head = const_cast<char*>(head.data());
    buffers.HeadLength = static_cast<DWORD>(head.size());
    uint64_t nLeft = nLength;
    bool bFirst = true;
    do {
        DWORD nPart = static_cast<DWORD>(std::min<uint64_t>(nLeft, 1u << 30));
        if (!TransmitFile(s, file, nPart, 0, nullptr, bFirst ? &buffers : nullptr, 0)) return false;
        bFirst = false;
        nLeft -= nPart;
        nBodySent += nPart;
    } while (nLeft > 0);
    return true;
}

bool SendMapped(SOCKET s, const std::string& head, HANDLE file, uint64_t nFirst, uint64_t nLength,
                uint64_t& nBodySent) {
    if (!SendAll(s, head.data(), head.size())) return false;
    if (nLength == 0) return true;
    HANDLE map = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!map) return false;
    const uint64_t kWindow = 64ull << 20;
    uint64_t nPos = nFirst;
    uint64_t nEnd = nFirst + nLength;
    bool ok = true;
    while (ok && nPos < nEnd) {
        uint64_t nBase = nPos & ~(kWindow - 1);
        uint64_t nViewEnd = std::min(nBase + kWindow, nEnd);
        char* view = static_cast<char*>(MapViewOfFile(map, FILE_MAP_READ, static_cast<DWORD>(nBase >> 32),
                                                      static_cast<DWORD>(nBase), static_cast<SIZE_T>(nViewEnd - nBase)));
        if (!view) { ok = false; break; }
        size_t nOff = static_cast<size_t>(nPos - nBase);
        size_t nCount = static_cast<size_t>(nViewEnd - nPos);
        while (nCount > 0) {
            int n = send(s, view + nOff, static_cast<int>(std::min<size_t>(nCount, Chunk())), 0);
            if (n == SOCKET_ERROR) { ok = false; break; }
            nOff += n; nCount -= n; nBodySent += n;
        }
        UnmapViewOfFile(view);
        nPos = nViewEnd;
    }
    CloseHandle(map);
    return ok;
}

}  // namespace

bool SendAll(SOCKET s, const char* bytes, size_t nSize) {
    while (nSize > 0) {
        int n = send(s, bytes, static_cast<int>(std::min<size_t>(nSize, 1u << 30)), 0);
        if (n == SOCKET_ERROR) return false;
        bytes += n;
        nSize -= static_cast<size_t>(n);
    }
    return true;
}

bool SendHeadAndSlice(SOCKET s, const std::string& head, HANDLE file, uint64_t nFirst, uint64_t nLength,
                      uint64_t& nBodySent) {
    nBodySent = 0;
    switch (Mode()) {
        case 1: return SendTransmit(s, head, file, nFirst, nLength, nBodySent);
        case 2: return SendMapped(s, head, file, nFirst, nLength, nBodySent);
        default: return SendReadLoop(s, head, file, nFirst, nLength, nBodySent);
    }
}

}  // namespace updsrv
