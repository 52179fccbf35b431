#include "update/rerun_rules.h"

#include <windows.h>

#include "app/process_values.h"
#include "download/internet_download.h"
#include "download/side_file.h"
#include "framework/gbk_text.h"
#include "framework/sha256.h"
#include "framework/trace.h"
#include "tasklist/mavrin_list.h"
#include "update/update_paths.h"

namespace {

// Commands resolve their paths against the current directory, the program's folder.
bool PathThere(const std::string& path) {
    return !path.empty() && ::GetFileAttributesW(GbkToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SizeOf(const std::wstring& path, uint64_t* size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

}  // namespace

bool CommandTookEffect(const UpdateListEntry& entry) {
    if (entry.cmd == "REN" || entry.cmd == "MOVE") return !PathThere(entry.srcfile) && PathThere(entry.destfile);
    if (entry.cmd == "DEC") return !PathThere(JoinPath(GetModuleDir(), entry.destfile));
    return false;
}

bool SkipInstalledDownload(UpdateTask& task, const UpdateListEntry& entry, int row) {
    if (entry.sha256.empty()) return false;
    // Where the downloads write: the program's folder and the name.
    const std::string destination = JoinPath(GetModuleDir(), entry.destfile);
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
