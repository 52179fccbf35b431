// Times one unpack through Unzip.dll, loaded by name as the updater loads it:
//   unzip_bench ARCHIVE
// Prints one line: "unzip_bench <seconds> s, result <code>, peak memory <MiB> MiB".
#include <windows.h>
#include <psapi.h>

#include <cstdio>

#include "framework/scoped_handle.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: unzip_bench ARCHIVE\n");
        return 1;
    }
    ScopedModule dll(LoadLibraryA("Unzip.dll"));
    auto onUpdateFile = dll.IsValid() ? reinterpret_cast<int (*)(const char*)>(reinterpret_cast<void*>(
                                            GetProcAddress(dll.Get(), "OnUpdateFile")))
                                      : nullptr;
    if (!onUpdateFile) {
        std::fprintf(stderr, "unzip_bench: Unzip.dll or OnUpdateFile not found\n");
        return 1;
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    int result = onUpdateFile(argv[1]);
    QueryPerformanceCounter(&end);
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    std::printf("unzip_bench %.3f s, result %d, peak memory %.1f MiB\n",
                static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart, result,
                memory.PeakWorkingSetSize / 1048576.0);
    return result == 0 ? 0 : 2;
}
