#include "update/unpack.h"

#include "components/unzip/Unzip.h"
#include "download/download_messages.h"
#include "framework/gbk_text.h"
#include "framework/scoped_handle.h"
#include "framework/trace.h"
#include "process/exit_flag.h"
#include "process/process_values.h"
#include "update/engine_messages.h"
#include "update/trace_log.h"
#include "update/update_paths.h"

namespace {
using UnpackFunction = int (*)(const char* archive);
using ProgressFunction = float (*)(const char* archive);
using CancelFunction = void (*)(const char* archive);
constexpr DWORD kPollIntervalMs = 100;
constexpr DWORD kStopCheckMs = 10;

// GetProcAddress gives a generic pointer; the library's exports take one path each.
template <typename Function>
Function As(FARPROC address) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}
}  // namespace

DWORD WINAPI UnzipThread(LPVOID param) {
    ZipRate* unzip = static_cast<ZipRate*>(param);
    if (unzip == nullptr) return static_cast<DWORD>(-1);
    unzip->nResult = As<UnpackFunction>(unzip->pfnUnzip)(unzip->szFile);
    return 0;
}

DWORD WINAPI UnzipRateThread(LPVOID param) {
    ZipRate* rate = static_cast<ZipRate*>(param);
    if (rate == nullptr || rate->pTask == nullptr) return static_cast<DWORD>(-1);
    UpdateTask& task = *rate->pTask;
    task.fProgress = 0.0f;
    if (task.nIndex >= 0 && g_pTaskList != nullptr && task.cPhase != kPhaseUnpacking) task.cPhase = kPhaseUnpacking;
    for (;;) {
        if (g_bExit) break;
        if (rate->g_bExit) break;
        if (rate->pfnUnzip == nullptr) break;
        task.fProgress = As<ProgressFunction>(rate->pfnUnzip)(rate->szFile);
        ::Sleep(kPollIntervalMs);
    }
    if (rate->g_bExit) task.cPhase = kPhaseUnpacked;
    TraceLine("tor1:g_bExit=%d, pZipRate->g_bExit=%d,", g_bExit ? 1 : 0, rate->g_bExit ? 1 : 0);
    return 0;
}

namespace {
// Ends the poller; a failed unpack must not leave the row saying it was unpacked.
void EndPolling(ZipRate& rate, ScopedKernelHandle& poller, bool unpacked) {
    rate.g_bExit = true;
    if (poller.IsValid()) ::WaitForSingleObject(poller.Get(), INFINITE);
    if (!unpacked) rate.pTask->cPhase = kPhaseDownloading;
}

// Waits for the unpack to end. A stop or a close asks the library to stop (a library without
// "UnzipCancel" finishes first); it is asked again at every look, since a request made
// before the unpack has begun is not kept.
void WaitForUnpack(HANDLE unpacker, HMODULE library, const UpdateTask& task, const char* archive) {
    CancelFunction cancel = As<CancelFunction>(::GetProcAddress(library, "UnzipCancel"));
    while (::WaitForSingleObject(unpacker, kStopCheckMs) == WAIT_TIMEOUT) {
        if (cancel != nullptr && (g_bExit || task.bStop)) cancel(archive);
    }
}
}  // namespace

UnpackResult UnpackArchive(const TaskPtr& task, const ListPath& archive, const std::function<void()>& unpacked) {
    g_ofsOutput << "下载完毕开始解压" << std::endl;
    // Loaded by name for every archive and never unloaded: the library may keep state.
    HMODULE library = ::LoadLibraryA("Unzip.dll");
    ZipRate rate;
    rate.pTask = task.get();
    rate.szFile = archive.full.c_str();
    rate.pfnUnzip = library ? ::GetProcAddress(library, "UnzipComplete") : nullptr;
    if (rate.pfnUnzip == nullptr) {
        ShowEngineErrorTitle("动态库加载,返回文件解压进度函数失败!");
        return UnpackResult::NotRun;
    }
    ScopedKernelHandle poller(::CreateThread(nullptr, 0, UnzipRateThread, &rate, 0, nullptr));

    ZipRate unzip;
    unzip.pTask = task.get();
    unzip.szFile = archive.full.c_str();
    unzip.pfnUnzip = ::GetProcAddress(library, "OnUpdateFile");
    if (unzip.pfnUnzip == nullptr) {
        ShowEngineErrorTitle("动态库加载失败");
        EndPolling(rate, poller, false);
        return UnpackResult::NotRun;
    }
    ScopedKernelHandle unpacker(::CreateThread(nullptr, 0, UnzipThread, &unzip, 0, nullptr));
    if (!unpacker.IsValid()) {
        EndPolling(rate, poller, false);
        ShowEngineError(FormatText("解压文件%s失败. 无法启动解压线程.", archive.written.c_str()));
        return UnpackResult::NotRun;
    }
    WaitForUnpack(unpacker.Get(), library, *task, archive.full.c_str());
    EndPolling(rate, poller, unzip.nResult == 0);
    // Stopped on request: no message, the archive stays for the next run.
    if (unzip.nResult == UNZIP_E_CANCELLED) return UnpackResult::NotRun;
    if (unzip.nResult != 0) {
        // The archive stays; whether it is fetched again is the list's runner's call.
        ShowEngineError(FormatText("解压文件%s失败. 错误号:%d.", archive.written.c_str(), unzip.nResult));
        return UnpackResult::Failed;
    }
    // Said before the archive goes, so a cut from here on never needs the archive again.
    if (unpacked) unpacked();
    // The task is finished only when its whole list has run: its supervisor says so.
    g_ofsOutput << "解压完毕，开始删除文件" << std::endl;
    ::DeleteFileW(GbkToWide(archive.full).c_str());
    g_ofsOutput << "删除完毕" << std::endl;
    return UnpackResult::Unpacked;
}
