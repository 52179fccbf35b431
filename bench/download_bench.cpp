// Times one download through the updater's own download code and reports its peak memory:
//   download_bench resumable|plain URL LOCALNAME [SECONDS]
//   download_bench stream URL BYTES [SECONDS]   (a package stream of BYTES, its bytes only counted)
// Prints one line: "<mode> <bytes> bytes in <seconds> s = <MiB/s> MiB/s, peak memory <MiB> MiB".
// With SECONDS, a download still running then is asked to stop (as a player's stop would) and
// the line is "<mode> stopped after <seconds> s, started at <Unix time> s, peak memory <MiB> MiB":
// the caller counts the bytes at the server, since a stopped download keeps none, up to when the
// server saw the connections close.
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "download/internet_download.h"
#include "download/local_file.h"
#include "download/package_stream.h"
#include "framework/message_box.h"
#include "framework/scoped_handle.h"
#include "lobby/task_queue.h"
#include "process/process_values.h"

namespace {

// What the window thread shares with main: the task to stop, the event that ends the wait
// early, and when the stop was asked for.
struct Window {
    UpdateTask* task = nullptr;
    HANDLE done = nullptr;
    DWORD milliseconds = 0;
    LARGE_INTEGER stoppedAt = {};
    std::atomic<bool> stopped{false};
};

DWORD WINAPI WindowThread(LPVOID param) {
    auto* window = static_cast<Window*>(param);
    if (::WaitForSingleObject(window->done, window->milliseconds) == WAIT_TIMEOUT) {
        ::QueryPerformanceCounter(&window->stoppedAt);
        window->stopped = true;
        window->task->bStop = true;
    }
    return 0;
}

// A package stream whose sink checks the order and counts; the bytes go nowhere.
int StreamOnly(const char* url, uint64_t size, UpdateTask& task, uint64_t* handed) {
    auto sink = [handed](uint64_t at, const char*, size_t bytes) {
        if (at != *handed) return false;
        *handed += bytes;
        return true;
    };
    auto restart = [handed] { return *handed; };
    return StreamPackage(url, 0, size, size, task, sink, restart) == StreamOutcome::Complete ? 0 : -1;
}

double PeakMemoryMiB() {
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof memory);
    return memory.PeakWorkingSetSize / 1048576.0;
}

}  // namespace

int main(int argc, char** argv) {
    if ((argc != 4 && argc != 5) ||
        (std::strcmp(argv[1], "resumable") != 0 && std::strcmp(argv[1], "plain") != 0 &&
         std::strcmp(argv[1], "stream") != 0)) {
        std::fprintf(stderr, "usage: download_bench resumable|plain URL LOCALNAME [SECONDS]\n"
                             "       download_bench stream URL BYTES [SECONDS]\n");
        return 1;
    }
    SetMessageBoxFunction([](HWND, const std::string& text, const std::string&, UINT) {
        std::fprintf(stderr, "download_bench: box: %s\n", text.c_str());
        return IDOK;
    });
    ::GetCurrentDirectoryA(MAX_PATH - 1, g_szAppDir);
    std::strcat(g_szAppDir, "\\");

    sUpdateStruct request = {};
    TaskPtr task = CreateTask(request, nullptr, -1);
    std::string written;
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);

    Window window;
    ScopedKernelHandle done(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    ScopedKernelHandle windowThread;
    if (argc == 5) {
        window.task = task.get();
        window.done = done.Get();
        window.milliseconds = static_cast<DWORD>(std::atof(argv[4]) * 1000.0);
        windowThread.Reset(::CreateThread(nullptr, 0, WindowThread, &window, 0, nullptr));
    }

    // The updater has had Winsock running for its lobby link long before any download starts;
    // so has this bench, or each figure would carry the socket layer's one-time start-up
    // (about 5 ms under Wine, as long as 5 MiB take over loopback).
    WSADATA winsock;
    ::WSAStartup(MAKEWORD(2, 2), &winsock);
    ::closesocket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));

    FILETIME startedAt;  // 100 ns units since 1601
    ::GetSystemTimeAsFileTime(&startedAt);
    ::QueryPerformanceCounter(&start);
    const bool resumable = std::strcmp(argv[1], "resumable") == 0;
    const bool stream = std::strcmp(argv[1], "stream") == 0;
    uint64_t size = 0;
    int result = stream      ? StreamOnly(argv[2], std::strtoull(argv[3], nullptr, 10), *task, &size)
                 : resumable ? InternetGetFileShowOnList(argv[2], argv[3], &written, -1, task.get())
                             : InternetGetFileOnly(argv[2], argv[3], &written, -1, task.get());
    ::QueryPerformanceCounter(&end);
    if (windowThread.IsValid()) {
        ::SetEvent(done.Get());
        ::WaitForSingleObject(windowThread.Get(), INFINITE);
    }
    if (window.stopped) {
        double seconds = static_cast<double>(window.stoppedAt.QuadPart - start.QuadPart) / frequency.QuadPart;
        ULARGE_INTEGER since1601 = {};
        since1601.LowPart = startedAt.dwLowDateTime;
        since1601.HighPart = startedAt.dwHighDateTime;
        double unixSeconds = since1601.QuadPart / 1e7 - 11644473600.0;
        std::printf("%s stopped after %.3f s, started at %.3f s, peak memory %.1f MiB\n", argv[1], seconds,
                    unixSeconds, PeakMemoryMiB());
        return 0;
    }
    if (result != 0) {
        std::fprintf(stderr, "download_bench: download failed\n");
        return 2;
    }
    if (!stream) LocalFileSize(written, &size);
    double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    std::printf("%s %llu bytes in %.3f s = %.1f MiB/s, peak memory %.1f MiB\n", argv[1],
                static_cast<unsigned long long>(size), seconds, size / 1048576.0 / seconds, PeakMemoryMiB());
    return 0;
}
