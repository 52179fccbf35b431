// Times one download through the updater's own download code and reports its peak memory:
//   download_bench resumable|plain URL LOCALNAME
// Prints one line: "<mode> <bytes> bytes in <seconds> s = <MiB/s> MiB/s, peak memory <MiB> MiB".
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "download/internet_download.h"
#include "download/local_file.h"
#include "framework/message_box.h"
#include "lobby/task_queue.h"
#include "process/process_values.h"

int main(int argc, char** argv) {
    if (argc != 4 || (std::strcmp(argv[1], "resumable") != 0 && std::strcmp(argv[1], "plain") != 0)) {
        std::fprintf(stderr, "usage: download_bench resumable|plain URL LOCALNAME\n");
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
    ::QueryPerformanceCounter(&start);
    bool resumable = std::strcmp(argv[1], "resumable") == 0;
    int result = resumable ? InternetGetFileShowOnList(argv[2], argv[3], &written, -1, task.get())
                           : InternetGetFileOnly(argv[2], argv[3], &written, -1, task.get());
    ::QueryPerformanceCounter(&end);
    if (result != 0) {
        std::fprintf(stderr, "download_bench: download failed\n");
        return 2;
    }
    uint64_t size = 0;
    LocalFileSize(written, &size);
    double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof memory);
    std::printf("%s %llu bytes in %.3f s = %.1f MiB/s, peak memory %.1f MiB\n", argv[1],
                static_cast<unsigned long long>(size), seconds, size / 1048576.0 / seconds,
                memory.PeakWorkingSetSize / 1048576.0);
    return 0;
}
