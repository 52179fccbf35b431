#include "update/update_files.h"

#include <windows.h>

#include <vector>

#include "app/process_values.h"
#include "download/download_messages.h"
#include "download/internet_download.h"
#include "framework/gbk_text.h"
#include "framework/internet_session.h"
#include "framework/sha256.h"
#include "update/engine_messages.h"
#include "update/exit_flag.h"
#include "update/publisher_key.h"
#include "update/release_acceptance.h"
#include "update/signature_check.h"
#include "update/trace_log.h"

namespace {
constexpr size_t kConfigValueCapacity = 999;
constexpr size_t kDestFileCapacity = 260;
constexpr size_t kCmdCapacity = 20;

std::string ReadIniString(const std::string& path, const std::string& section, const std::string& key,
                          size_t capacity) {
    std::vector<char> value(capacity, '\0');
    ::GetPrivateProfileStringA(section.c_str(), key.c_str(), "", value.data(), static_cast<DWORD>(capacity),
                               path.c_str());
    return value.data();
}

std::string SectionName(int index) { return FormatText("list%d", index); }

// The "[release]" section and the digest of a signed file fetched to `path`; a refused file
// is deleted, so nothing reads it later.
bool AcceptFetchedRelease(const std::string& url, const std::string& path) {
    ReleaseInfo info;
    char keys[4] = {};
    info.present = ::GetPrivateProfileStringA("release", nullptr, "", keys, sizeof keys, path.c_str()) > 0;
    info.url = ReadIniString(path, "release", "url", kConfigValueCapacity);
    info.serial = ReadIniString(path, "release", "serial", kConfigValueCapacity);
    info.expires = ReadIniString(path, "release", "expires", kConfigValueCapacity);
    std::string digest;
    FileSha256(GbkToWide(path), &digest);
    if (AcceptRelease(url, info, digest)) return true;
    DeleteUpdateFile(path);
    return false;
}
}  // namespace

int ReadListAction(const std::string& listPath, int index) {
    return static_cast<int>(::GetPrivateProfileIntA(SectionName(index).c_str(), "action", -1, listPath.c_str()));
}

UpdateListEntry ReadListEntry(const std::string& listPath, int index) {
    UpdateListEntry entry;
    std::string section = SectionName(index);
    entry.action = ReadListAction(listPath, index);
    entry.srcfile = ReadIniString(listPath, section, "srcfile", kSrcFileCapacity);
    entry.destfile = ReadIniString(listPath, section, "destfile", kDestFileCapacity);
    entry.cmd = ReadIniString(listPath, section, "cmd", kCmdCapacity);
    entry.sha256 = ReadIniString(listPath, section, "sha256", kConfigValueCapacity);
    return entry;
}

bool IsUrlReachable(const std::string& url) {
    CInternetSession session;
    int status = session.QueryStatusCode(url);
    return status >= 0 && status != 404;
}

bool ReadUpdateURLFile(UpdateTask* task, std::string* listPath, std::string* listUrl) {
    if (task == nullptr) return false;
    ::SetCurrentDirectoryA(g_szAppDir);
    PublisherKey key = CurrentPublisherKey();
    if (key.state == PublisherKeyState::kMalformed) {
        ShowEngineError(MalformedKeyMessage(key.path));
        return false;
    }
    bool signedOnly = key.state == PublisherKeyState::kLoaded;
    std::string url = FieldText(task->szUrl);
    if (!IsUrlReachable(url)) {
        ShowEngineNotice(FormatText("更新URL(%s)文件不存在.", url.c_str()));
        return false;
    }
    std::string urlFile;
    if (FetchUpdateFile(url, task, &urlFile) == -1) return false;
    if (signedOnly && !CheckUpdateFileSignature(task, key, url, urlFile)) return false;
    if (signedOnly && !AcceptFetchedRelease(url, urlFile)) return false;
    g_ofsOutput << url << std::endl;

    std::string value = ReadIniString(urlFile, "config", FieldText(task->szConfigKey), kConfigValueCapacity);
    if (value.empty()) value = ReadIniString(urlFile, "config", "other", kConfigValueCapacity);
    DeleteUpdateFile(urlFile);
    if (value.empty()) {
        ShowEngineNotice(FormatText("更新URL(%s)文件内other项配置错误.", url.c_str()));
        return false;
    }
    std::string fetched;
    if (FetchUpdateFile(value, task, &fetched) == -1) return false;
    if (!IsUrlReachable(value)) {
        DeleteUpdateFile(fetched);
        ShowEngineNotice(FormatText("更新URL(%s)文件不存在.", value.c_str()));
        return false;
    }
    if (signedOnly && !CheckUpdateFileSignature(task, key, value, fetched)) return false;
    if (signedOnly && !AcceptFetchedRelease(value, fetched)) return false;
    *listPath = fetched;
    *listUrl = value;
    return true;
}

int FetchUpdateFile(const std::string& url, UpdateTask* task, std::string* path) {
    return InternetGetFileOnly(url.c_str(), nullptr, path, -1, task, std::string(), kUpdateFileMaxBytes);
}

void DeleteUpdateFile(const std::string& path) {
    if (!path.empty()) ::DeleteFileW(GbkToWide(path).c_str());
}

bool CheckUpdateList(UpdateTask& task, const std::string& listPath, const std::string& listUrl) {
    // A signed list vouches for its packages only through their checksums.
    bool checksumsRequired = CurrentPublisherKey().state == PublisherKeyState::kLoaded;
    bool anyEntry = false;
    std::string lastSource;
    for (int index = 0;; ++index) {
        if (task.bStop) return false;
        int action = ReadListAction(listPath, index);
        if (action == 0) break;
        if (action == -1) {
            ShowEngineNotice(FormatText("更新URL(%s)文件内action项配置错误.", listUrl.c_str()));
            return false;
        }
        UpdateListEntry entry = ReadListEntry(listPath, index);
        if (action & kActionCommand) {
            if (entry.cmd.empty()) {
                ShowEngineError("解析更新列表文件错误,动作有命令但命令为空.");
                return false;
            }
            if (entry.destfile.empty()) {
                ShowEngineError("解析更新列表文件错误,动作有命令但目标文件为空.");
                return false;
            }
        }
        if ((action & kActionDownload) && (entry.srcfile.empty() || entry.destfile.empty())) {
            ShowEngineError(FormatText("解析更新列表文件错误,动作为下载文件但文件路径为空.\n源文件: %s\n目标文件:%s",
                                       entry.srcfile.c_str(), entry.destfile.c_str()));
            return false;
        }
        if ((action & kActionDownload) && !entry.sha256.empty() && !IsSha256Text(entry.sha256)) {
            ShowEngineError(FormatText("解析更新列表文件错误,sha256应为64位十六进制数字.\n目标文件:%s\nsha256:%s",
                                       entry.destfile.c_str(), entry.sha256.c_str()));
            return false;
        }
        if ((action & kActionDownload) && checksumsRequired && entry.sha256.empty()) {
            ShowEngineError(FormatText("解析更新列表文件错误,下载项list%d没有有效的sha256校验值.\n源文件: %s", index,
                                       entry.srcfile.c_str()));
            return false;
        }
        anyEntry = true;
        lastSource = entry.srcfile;
        if (g_bExit) return false;
    }
    // A list that is only its end marker has nothing to test.
    if (anyEntry && !IsUrlReachable(lastSource)) {
        ShowEngineNotice(FormatText("更新URL(%s)文件不存在.", lastSource.c_str()));
        return false;
    }
    return true;
}
