#include "file_sender.h"


#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>
#include <thread>
#include <mutex>
#include <condition_variable>
#include <cstring>

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

bool SendReadLoop(CSocketIo& s, const std::string& head, HANDLE file, uint64_t nFirst, uint64_t nLength,
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
            if (nHead) s.SendAll(buffer.get(), nHead);
            return false;
        }
        if (!s.SendAll(buffer.get(), nHead + nRead)) return false;
        nBodySent += nRead;
        nLeft -= nRead;
        nHead = 0;
    } while (nLeft > 0);
    return true;
}

bool SendMapped(CSocketIo& s, const std::string& head, HANDLE file, uint64_t nFirst, uint64_t nLength,
                uint64_t& nBodySent) {
    if (!s.SendAll(head.data(), head.size())) return false;
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
            int n = static_cast<int>(std::min<size_t>(nCount, Chunk()));
            if (!s.SendAll(view + nOff, n)) { ok = false; break; }
            nOff += n; nCount -= n; nBodySent += n;
        }
        UnmapViewOfFile(view);
        nPos = nViewEnd;
    }
    CloseHandle(map);
    return ok;
}

bool SendDouble(CSocketIo& s, const std::string& head, HANDLE file, uint64_t nFirst, uint64_t nLength,
                uint64_t& nBodySent) {
    LARGE_INTEGER pos;
    pos.QuadPart = static_cast<LONGLONG>(nFirst);
    if (!SetFilePointerEx(file, pos, nullptr, FILE_BEGIN)) return false;
    if (!s.SendAll(head.data(), head.size())) return false;
    const size_t nChunk = Chunk();
    std::unique_ptr<char[]> buf[2] = {std::unique_ptr<char[]>(new char[nChunk]), std::unique_ptr<char[]>(new char[nChunk])};
    size_t filled[2] = {0, 0};
    bool full[2] = {false, false};
    bool stop = false, readFail = false;
    std::mutex m; std::condition_variable cv;
    std::thread reader([&] {
        uint64_t left = nLength; int i = 0;
        while (left > 0) {
            {
                std::unique_lock<std::mutex> l(m);
                cv.wait(l, [&] { return !full[i] || stop; });
                if (stop) return;
            }
            DWORD want = (DWORD)std::min<uint64_t>(left, nChunk), got = 0;
            if (!ReadFile(file, buf[i].get(), want, &got, nullptr) || got == 0) {
                std::lock_guard<std::mutex> l(m); readFail = true; cv.notify_all(); return;
            }
            left -= got;
            { std::lock_guard<std::mutex> l(m); filled[i] = got; full[i] = true; }
            cv.notify_all();
            i ^= 1;
        }
    });
    uint64_t left = nLength; int i = 0; bool ok = true;
    while (left > 0) {
        {
            std::unique_lock<std::mutex> l(m);
            cv.wait(l, [&] { return full[i] || readFail; });
            if (!full[i]) { ok = false; break; }
        }
        if (!s.SendAll(buf[i].get(), filled[i])) { ok = false; break; }
        nBodySent += filled[i]; left -= filled[i];
        { std::lock_guard<std::mutex> l(m); full[i] = false; }
        cv.notify_all();
        i ^= 1;
    }
    { std::lock_guard<std::mutex> l(m); stop = true; }
    cv.notify_all();
    reader.join();
    return ok;
}

}  // namespace


bool SendHeadAndSlice(CSocketIo& s, const std::string& head, HANDLE file, uint64_t nFirst, uint64_t nLength,
                      uint64_t& nBodySent) {
    nBodySent = 0;
    switch (Mode()) {
                case 3: return SendDouble(s, head, file, nFirst, nLength, nBodySent);
        case 2: return SendMapped(s, head, file, nFirst, nLength, nBodySent);
        default: return SendReadLoop(s, head, file, nFirst, nLength, nBodySent);
    }
}

}  // namespace updsrv
