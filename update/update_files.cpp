#include "update/update_files.h"

#include <windows.h>

#include "download/download_messages.h"
#include "download/internet_download.h"
#include "download/memory_fetch.h"
#include "framework/internet_session.h"
#include "framework/sha256.h"
#include "framework/trace.h"
#include "process/exit_flag.h"
#include "update/engine_messages.h"
#include "update/publisher_key.h"
#include "update/release_acceptance.h"
#include "update/signature_check.h"
#include "update/trace_log.h"

namespace {
constexpr size_t kConfigValueCapacity = 999;
constexpr size_t kDestFileCapacity = 260;
constexpr size_t kCmdCapacity = 20;
// A DER P-256 signature is at most 72 bytes; anything much larger is no signature.
constexpr size_t kSignatureLimit = 1024;

std::string SectionName(size_t index) { return FormatText("list%u", static_cast<unsigned>(index)); }

UpdateListEntry ReadEntry(const ProfileText& text, const std::string& section, int action) {
    UpdateListEntry entry;
    entry.action = action;
    entry.srcfile = text.ReadString(section, "srcfile", kSrcFileCapacity);
    entry.destfile = text.ReadString(section, "destfile", kDestFileCapacity);
    entry.cmd = text.ReadString(section, "cmd", kCmdCapacity);
    entry.sha256 = text.ReadString(section, "sha256", kConfigValueCapacity);
    entry.manifest = text.ReadString(section, "manifest", kConfigValueCapacity);
    return entry;
}

// The "[release]" section of a signed file and the digest of its bytes, both from the bytes
// that were verified.
bool AcceptFetchedRelease(const UpdateFile& file) {
    ReleaseInfo info;
    info.url = file.text.ReadString("release", "url", kConfigValueCapacity);
    info.serial = file.text.ReadString("release", "serial", kConfigValueCapacity);
    info.expires = file.text.ReadString("release", "expires", kConfigValueCapacity);
    info.present = !info.url.empty() || !info.serial.empty() || !info.expires.empty();
    std::string digest;
    if (!BytesSha256(file.bytes, &digest)) digest.clear();
    return AcceptRelease(file.url, info, digest);
}
}  // namespace

int UpdateList::ActionAt(size_t index) const {
    if (index < entries.size()) return entries[index].action;
    return endMarkerFound ? 0 : -1;
}

UpdateList ParseUpdateList(UpdateFile file) {
    UpdateList list;
    list.file = std::move(file);
    // Every index needs a section of its own, so a list of at most kUpdateFileMaxBytes ends.
    for (size_t index = 0;; ++index) {
        const std::string section = SectionName(index);
        const int action = list.file.text.ReadInt(section, "action", -1);
        if (action == 0 || action == -1) {
            list.endMarkerFound = action == 0;
            return list;
        }
        list.entries.push_back(ReadEntry(list.file.text, section, action));
    }
}

bool IsUrlReachable(const std::string& url) {
    StatusQuery query = CInternetSession().QueryStatus(url);
    return query.outcome == SendOutcome::Sent && query.status != 404;
}

bool ConfirmUrlReachable(const std::string& url) {
    StatusQuery query = CInternetSession().QueryStatus(url);
    if (query.outcome != SendOutcome::Sent) {
        // A refused redirect or a dead server is no missing file: say what a fetch would say.
        ShowSendFailure(query.outcome, query.error, url.c_str());
        return false;
    }
    if (query.status == 404) {
        ShowEngineNotice(FormatText("更新URL(%s)文件不存在.", url.c_str()));
        return false;
    }
    return true;
}

bool FetchUpdateFile(UpdateTask* task, const std::string& url, UpdateFile* file) {
    if (task == nullptr) return false;
    file->url = url;
    if (!FetchToMemory(url, *task, kUpdateFileMaxBytes, &file->bytes)) return false;
    file->text = ProfileText(file->bytes);
    return true;
}

bool CheckUpdateFileSignature(UpdateTask* task, const PublisherKey& key, const UpdateFile& file) {
    if (key.state != PublisherKeyState::kLoaded) return true;
    std::string signature;
    // The download has told the user why the fetch failed (or the task was stopped).
    if (task == nullptr || !FetchToMemory(file.url + ".sig", *task, kUpdateFileMaxBytes, &signature)) return false;
    if (signature.size() > kSignatureLimit || !VerifySignature(key.blob, file.bytes, signature)) {
        TraceLine("qen: signature of %s is not valid", file.url.c_str());
        ShowEngineError(FormatText("更新文件%s的签名无效.", file.url.c_str()));
        return false;
    }
    TraceLine("qen: signature of %s verified", file.url.c_str());
    return true;
}

bool ReadUpdateURLFile(UpdateTask* task, UpdateList* list) {
    if (task == nullptr) return false;
    PublisherKey key = CurrentPublisherKey();
    if (key.state == PublisherKeyState::kMalformed) {
        ShowEngineError(MalformedKeyMessage(key.path));
        return false;
    }
    bool signedOnly = key.state == PublisherKeyState::kLoaded;
    std::string url = FieldText(task->szUrl);
    if (!ConfirmUrlReachable(url)) return false;
    UpdateFile urlFile;
    if (!FetchUpdateFile(task, url, &urlFile)) return false;
    if (!CheckUpdateFileSignature(task, key, urlFile)) return false;
    if (signedOnly && !AcceptFetchedRelease(urlFile)) return false;
    g_ofsOutput << url << std::endl;

    std::string listUrl = urlFile.text.ReadString("config", FieldText(task->szConfigKey), kConfigValueCapacity);
    if (listUrl.empty()) listUrl = urlFile.text.ReadString("config", "other", kConfigValueCapacity);
    if (listUrl.empty()) {
        ShowEngineNotice(FormatText("更新URL(%s)文件内other项配置错误.", url.c_str()));
        return false;
    }
    UpdateFile listFile;
    if (!FetchUpdateFile(task, listUrl, &listFile)) return false;
    if (!ConfirmUrlReachable(listUrl)) return false;
    if (!CheckUpdateFileSignature(task, key, listFile)) return false;
    if (signedOnly && !AcceptFetchedRelease(listFile)) return false;
    *list = ParseUpdateList(std::move(listFile));
    return true;
}

bool CheckUpdateList(UpdateTask& task, const UpdateList& list) {
    // A signed list vouches for its packages only through their checksums.
    bool checksumsRequired = CurrentPublisherKey().state == PublisherKeyState::kLoaded;
    const std::string& listUrl = list.file.url;
    bool anyEntry = false;
    std::string lastSource;
    for (int index = 0;; ++index) {
        if (task.bStop) return false;
        int action = list.ActionAt(index);
        if (action == 0) break;
        if (action == -1) {
            ShowEngineNotice(FormatText("更新URL(%s)文件内action项配置错误.", listUrl.c_str()));
            return false;
        }
        const UpdateListEntry& entry = list.entries[index];
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
    return !anyEntry || ConfirmUrlReachable(lastSource);
}
