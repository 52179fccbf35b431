#include "update/update_actions.h"

#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <functional>

#include "download/download_messages.h"
#include "download/internet_download.h"
#include "framework/gbk_text.h"
#include "framework/scoped_handle.h"
#include "framework/trace.h"
#include "package/manifest_install.h"
#include "process/exit_flag.h"
#include "update/engine_messages.h"
#include "update/rerun_rules.h"
#include "update/shell_file_ops.h"
#include "update/task_journal.h"
#include "update/trace_log.h"
#include "update/unpack.h"
#include "update/update_files.h"
#include "update/update_paths.h"

namespace {

enum class Step {
    Continue,
    End,
    BadArchive,  // "DEC" failed in the library: the archive may be what is broken
};

// Started programs work in the program's folder, whatever folder the updater was started in.
HINSTANCE StartProgram(const std::string& fullPath, int show) {
    return ::ShellExecuteW(nullptr, L"open", GbkToWide(fullPath).c_str(), nullptr, GbkToWide(GetModuleDir()).c_str(),
                           show);
}

void LaunchLobbyClient() { StartProgram(GetModuleDir() + "\\Mavrin.exe", SW_SHOWNORMAL); }

// True when the destination now holds the downloaded file. The destination belongs to the
// program's folder; the download writes exactly the path that was checked.
bool RunDownload(const TaskPtr& task, const UpdateListEntry& entry, int row) {
    ListPath dest;
    if (!ResolveListPath(entry.destfile, PathRule::InsideOnly, &dest)) return false;
    if (SkipInstalledDownload(*task, entry, dest.full, row)) return true;
    DownloadJob job;
    job.pupdateStruct = task;
    std::snprintf(job.szurl, sizeof job.szurl, "%s", entry.srcfile.c_str());
    std::snprintf(job.szfileName, sizeof job.szfileName, "%s", entry.destfile.c_str());
    job.localPath = dest.full;
    job.index = row;
    job.sha256 = entry.sha256;
    ScopedKernelHandle thread(::CreateThread(nullptr, 0, DownloadThread, &job, 0, nullptr));
    if (!thread.IsValid()) {
        ShowEngineError(FormatText("启动下载线程失败. 错误号:%d.", static_cast<int>(::GetLastError())));
        return false;
    }
    ::WaitForSingleObject(thread.Get(), INFINITE);
    DWORD code = static_cast<DWORD>(-1);
    return ::GetExitCodeThread(thread.Get(), &code) && code == 0;
}

bool RequireSource(const UpdateListEntry& entry, const char* message) {
    if (!entry.srcfile.empty()) return true;
    ShowEngineError(message);
    return false;
}

// Resolves the source (when `source`) and the target of a command; false ends the task.
bool ResolveBoth(const UpdateListEntry& entry, ListPath* source, ListPath* target) {
    return ResolveListPath(entry.srcfile, PathRule::AbsoluteAllowed, source) &&
           ResolveListPath(entry.destfile, PathRule::AbsoluteAllowed, target);
}

// `mayHaveRun`: an earlier run may have carried the command out already. `unpacked` is told
// when a "DEC" has unpacked, before its archive goes.
Step RunCommand(const TaskPtr& task, const UpdateListEntry& entry, bool mayHaveRun,
                const std::function<void()>& unpacked) {
    const std::string& cmd = entry.cmd;
    // Every path is resolved against the program's folder before anything is done, never
    // through the current directory; a relative one that climbs out of the folder ends the task.
    ListPath src;
    ListPath dest;
    if (cmd == "DEL") {
        if (!ResolveListPath(entry.destfile, PathRule::AbsoluteAllowed, &dest)) return Step::End;
        return ShellDeleteFile(dest) ? Step::Continue : Step::End;
    }
    if (cmd == "MOVE") {
        if (!RequireSource(entry, "执行更新列表文件错误,动作为移动文件但源文件路径为空.")) return Step::End;
        if (!ResolveBoth(entry, &src, &dest)) return Step::End;
        return ShellMoveFile(src, dest, mayHaveRun) ? Step::Continue : Step::End;
    }
    if (cmd == "COPY") {
        if (!RequireSource(entry, "执行更新列表文件错误,动作为复制文件但源文件路径为空.")) return Step::End;
        if (!ResolveBoth(entry, &src, &dest)) return Step::End;
        return ShellCopyFile(src, dest) ? Step::Continue : Step::End;
    }
    if (cmd == "REN") {
        if (!RequireSource(entry, "执行更新列表文件错误,动作为重命名但源文件路径为空.")) return Step::End;
        if (!ResolveBoth(entry, &src, &dest)) return Step::End;
        return RenameListFile(src, dest) ? Step::Continue : Step::End;
    }
    if (cmd == "CRE") {
        if (!ResolveListPath(entry.destfile, PathRule::AbsoluteAllowed, &dest)) return Step::End;
        if (::CreateDirectoryW(GbkToWide(dest.full).c_str(), nullptr)) return Step::Continue;
        // A folder that is already there is what the list asked for.
        if (::GetLastError() == ERROR_ALREADY_EXISTS) return Step::Continue;
        ShowEngineError(FormatText("CreateDirectory执行失败,目录:%s.错误号:%d", dest.written.c_str(),
                                   static_cast<int>(::GetLastError())));
        return Step::End;
    }
    if (cmd == "EXEC") {
        if (!ResolveListPath(entry.destfile, PathRule::AbsoluteAllowed, &dest)) return Step::End;
        std::string lower = dest.written;
        for (char& c : lower) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        int show = lower.find(".exe") != std::string::npos ? SW_SHOW : SW_HIDE;
        return StartProgram(dest.full, show) == nullptr ? Step::End : Step::Continue;
    }
    // Both act on what belongs to the program's folder: nothing else is taken.
    if (cmd == "REDC") {
        if (!ResolveListPath(entry.destfile, PathRule::InsideOnly, &dest)) return Step::End;
        ShellRemoveTree(dest.full);
        return Step::Continue;
    }
    if (cmd == "DEC") {
        if (!ResolveListPath(entry.destfile, PathRule::InsideOnly, &dest)) return Step::End;
        switch (UnpackArchive(task, dest, unpacked)) {
            case UnpackResult::Unpacked: return Step::Continue;
            case UnpackResult::Failed: return Step::BadArchive;
            case UnpackResult::NotRun: return Step::End;
        }
        return Step::End;
    }
    ShowEngineError(FormatText("未知的更新命令. %s", cmd.c_str()));
    return Step::End;
}

bool SamePath(const std::string& a, const std::string& b) {
    const std::wstring wideA = GbkToWide(a);
    const std::wstring wideB = GbkToWide(b);
    return ::CompareStringOrdinal(wideA.c_str(), static_cast<int>(wideA.size()), wideB.c_str(),
                                  static_cast<int>(wideB.size()), TRUE) == CSTR_EQUAL;
}

// The last download entry before `index` that writes `archive`; -1 when none does.
int FetcherOf(const UpdateList& list, int index, const std::string& archive) {
    for (int k = index - 1; k >= 0; --k) {
        ListPath dest;
        if ((list.ActionAt(k) & kActionDownload) &&
            TryResolveListPath(list.entries[k].destfile, PathRule::InsideOnly, &dest) && SamePath(dest.full, archive)) {
            return k;
        }
    }
    return -1;
}

// The library failed on the archive of the "DEC" at `index`: unpacking the same bytes again
// would fail again, so the next run fetches them afresh. An archive the entry downloaded
// itself is fetched again by that entry; one an earlier entry downloaded goes, and the next
// run starts again at that entry. The entries in between run again then; the journal knows
// they may have run. An archive no entry downloaded came with the folder and stays.
void FetchArchiveAgain(const UpdateList& list, int index, TaskJournal& journal) {
    if (list.ActionAt(index) & kActionDownload) {
        journal.ForgetFetched(index);
        return;
    }
    ListPath archive;
    if (!TryResolveListPath(list.entries[index].destfile, PathRule::InsideOnly, &archive)) return;
    const int fetcher = FetcherOf(list, index, archive.full);
    if (fetcher < 0) return;
    ::DeleteFileW(GbkToWide(archive.full).c_str());
    journal.SendBackTo(fetcher, index);
}

// An entry that downloads a package and unpacks it, and whose package has a manifest: its
// entries are installed while the package's bytes arrive.
bool InstallsThroughManifest(int action, const UpdateListEntry& entry) {
    return (action & kActionDownload) && (action & kActionCommand) && entry.cmd == "DEC" && !entry.manifest.empty();
}

ManifestInstall InstallPackage(const TaskPtr& task, const UpdateListEntry& entry, const std::function<void()>& installed) {
    ListPath archive;
    if (!ResolveListPath(entry.destfile, PathRule::InsideOnly, &archive)) return ManifestInstall::Failed;
    ManifestPackage package{entry.srcfile, entry.manifest, entry.sha256, archive.full};
    return InstallThroughManifest(*task, package, [](const char* line) { g_ofsOutput << line << std::endl; }, installed);
}

// The archive of a "DEC" a cut run had unpacked; the cut may have come before it went.
void RemoveUnpackedArchive(const UpdateListEntry& entry) {
    ListPath archive;
    if (TryResolveListPath(entry.destfile, PathRule::InsideOnly, &archive)) ::DeleteFileW(GbkToWide(archive.full).c_str());
}

}  // namespace

int ExecuteUpdateList(const TaskPtr& task, const UpdateList& list) {
    const int row = task->nIndex;
    // Entries an interrupted run of the same list completed are not run again.
    TaskJournal journal(list.file.url, UpdateListKey(list.file.bytes));
    for (int index = 0;; ++index) {
        if (task->bStop) return -1;
        TraceLine("tor1:list[%d]", index);
        int action = list.ActionAt(index);
        if (action == 0) {
            journal.Finish();
            LaunchLobbyClient();
            return 0;
        }
        if (action == -1) {
            ShowEngineError("解析更新列表文件错误.");
            return -1;
        }
        const UpdateListEntry& entry = list.entries[index];
        g_ofsOutput << "执行命令:" << entry.srcfile << "-----" << entry.destfile << "-----" << action << "-----"
                    << entry.cmd << std::endl;
        if ((action & kActionCommand) && entry.cmd.empty()) {
            ShowEngineError("解析更新列表文件错误,动作有命令但命令为空.");
            return -1;
        }
        if ((action & kActionDownload) && (entry.srcfile.empty() || entry.destfile.empty())) {
            ShowEngineError("解析更新列表文件错误,动作为下载文件但文件路径为空.");
            return -1;
        }
        if (journal.IsDone(index)) continue;
        // Unpacked before the cut: the archive is not fetched again, whatever its checksum says.
        if (journal.IsUnpacked(index)) {
            RemoveUnpackedArchive(entry);
            journal.MarkDone(index);
            if (g_bExit) return -1;
            continue;
        }
        if (InstallsThroughManifest(action, entry)) {
            // A rerun takes up where the cut left: what is installed with its hash stays.
            ManifestInstall result = InstallPackage(task, entry, [&journal, index] { journal.MarkUnpacked(index); });
            if (result == ManifestInstall::Installed) {
                journal.MarkDone(index);
                if (g_bExit) return -1;
                continue;
            }
            if (result != ManifestInstall::NoManifest) return -1;
        }
        const bool mayHaveRun = journal.MayHaveRun(index);
        // A fetched file with a checksum is checked again rather than trusted from the journal.
        if ((action & kActionDownload) && !(journal.IsFetched(index) && entry.sha256.empty())) {
            // The download showed its own message; the installed file is as it was.
            bool downloaded = RunDownload(task, entry, row);
            if (g_bExit || task->bStop || !downloaded) return -1;
            if (action & kActionCommand) journal.MarkFetched(index);
        }
        // A command that an earlier run already carried out would fail if run again.
        bool tookEffect = mayHaveRun && CommandTookEffect(entry);
        if ((action & kActionCommand) && !tookEffect) {
            Step step = RunCommand(task, entry, mayHaveRun, [&journal, index] { journal.MarkUnpacked(index); });
            if (step != Step::Continue) {
                // A command that failed by itself may have failed on the download (a broken archive).
                if (!g_bExit && !task->bStop) {
                    if (step == Step::BadArchive) FetchArchiveAgain(list, index, journal);
                    else journal.ForgetFetched(index);
                }
                return -1;
            }
        }
        journal.MarkDone(index);
        if (g_bExit) return -1;
    }
}
