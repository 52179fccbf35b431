#include "update/rerun_rules.h"

#include <windows.h>

#include "download/internet_download.h"
#include "download/side_file.h"
#include "framework/gbk_text.h"
#include "framework/sha256.h"
#include "framework/trace.h"
#include "process/process_values.h"
#include "tasklist/mavrin_list.h"
#include "update/shell_file_ops.h"
#include "update/update_paths.h"

namespace {

// Whether `path`, resolved as the command resolves it, names something; false for a path the
// command would refuse, which is then left to the command to say so.
bool Resolves(const std::string& path, PathRule rule, bool* there) {
    ListPath resolved;
    if (path.empty() || !TryResolveListPath(path, rule, &resolved)) return false;
    *there = ::GetFileAttributesW(GbkToWide(resolved.full).c_str()) != INVALID_FILE_ATTRIBUTES;
    return true;
}

bool SizeOf(const std::wstring& path, uint64_t* size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

}  // namespace

bool CommandTookEffect(const UpdateListEntry& entry) {
    bool sourceThere = false;
    bool targetThere = false;
    // A pattern names no one file: no look at it says whether every match has gone.
    if ((entry.cmd == "REN" || entry.cmd == "MOVE") && HasWildcard(entry.srcfile)) return false;
    if (entry.cmd == "REN" || entry.cmd == "MOVE")
        return Resolves(entry.srcfile, PathRule::AbsoluteAllowed, &sourceThere) &&
               Resolves(entry.destfile, PathRule::AbsoluteAllowed, &targetThere) && !sourceThere && targetThere;
    if (entry.cmd == "DEC") return Resolves(entry.destfile, PathRule::InsideOnly, &targetThere) && !targetThere;
    return false;
}

bool SkipInstalledDownload(UpdateTask& task, const UpdateListEntry& entry, const std::string& destination,
                           int row) {
    if (entry.sha256.empty()) return false;
    const std::wstring wide = GbkToWide(destination);
    std::string actual;
    uint64_t size = 0;
    if (!FileSha256(wide, &actual) || !SameSha256(actual, entry.sha256) || !SizeOf(wide, &size)) return false;
    TraceLine("qen: %s already holds %s: not fetched", destination.c_str(), entry.sha256.c_str());
    RemoveSideFiles(destination);
    if (UsesResumableDownload(entry.srcfile)) {
        task.dSpeed = 0.0;
        task.fProgress = 1.0f;
        if (row >= 0 && g_pTaskList != nullptr) g_pTaskList->SetItemSize(row, static_cast<int>(size >> 10));
    }
    return true;
}
