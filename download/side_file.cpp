#include "download/side_file.h"

#include <windows.h>

#include "download/download_messages.h"
#include "download/http_headers.h"
#include "download/local_file.h"
#include "framework/gbk_text.h"
#include "framework/scoped_handle.h"
#include "framework/sha256.h"
#include "framework/trace.h"

namespace {

constexpr DWORD kInfoLimit = 8192;  // far more than a URL, a validator and a few pieces need

std::string InfoPath(const std::string& destination) { return SidePath(destination) + ".info"; }

// The next line of `text` from `*position`, without its end.
std::string NextLine(const std::string& text, size_t* position) {
    size_t end = text.find('\n', *position);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(*position, end - *position);
    *position = end < text.size() ? end + 1 : end;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

// Puts the side file's bytes on the disk itself: the rename below is durable on its own
// (write-through), the data it points at is not until it is flushed.
bool FlushToDisk(const std::wstring& path) {
    ScopedKernelHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.IsValid() && ::FlushFileBuffers(file.Get());
}

}  // namespace

std::string SidePath(const std::string& destination) { return destination + ".part"; }

bool ReadSideInfo(const std::string& destination, SideFileInfo* info) {
    ScopedKernelHandle file(::CreateFileW(GbkToWide(InfoPath(destination)).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return false;
    std::string text(kInfoLimit, '\0');
    DWORD got = 0;
    if (!::ReadFile(file.Get(), &text[0], kInfoLimit, &got, nullptr)) return false;
    text.resize(got);
    size_t position = 0;
    info->url = NextLine(text, &position);
    std::string total = NextLine(text, &position);
    info->validator = NextLine(text, &position);
    std::string flushed = NextLine(text, &position);
    if (info->url.empty() || !ParseDecimal64(total, &info->total) || !ParseDecimal64(flushed, &info->flushed)) {
        return false;
    }
    info->held.clear();
    while (position < text.size()) {
        std::string line = NextLine(text, &position);
        if (line.empty()) continue;
        size_t dash = line.find('-');
        ByteSpan span;
        // A piece that can't be read vouches for nothing, and nor does the rest of the record.
        if (dash == std::string::npos || !ParseDecimal64(line.substr(0, dash), &span.first) ||
            !ParseDecimal64(line.substr(dash + 1), &span.end) || span.end < span.first) {
            return false;
        }
        info->held.push_back(span);
    }
    return true;
}

bool WriteSideInfo(const std::string& destination, const SideFileInfo& info) {
    std::string text = info.url + "\r\n" + std::to_string(info.total) + "\r\n" + info.validator + "\r\n" +
                       std::to_string(info.flushed) + "\r\n";
    for (const ByteSpan& span : info.held) {
        text += std::to_string(span.first) + "-" + std::to_string(span.end) + "\r\n";
    }
    ScopedKernelHandle file(::CreateFileW(GbkToWide(InfoPath(destination)).c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file.IsValid() && ::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

void RemoveSideFiles(const std::string& destination) {
    DeleteLocalFile(SidePath(destination));
    DeleteLocalFile(InfoPath(destination));
}

bool ReplaceWithSideFile(const std::string& destination, const std::string& sha256) {
    const std::wstring side = GbkToWide(SidePath(destination));
    if (!sha256.empty()) {
        std::string actual;
        if (!FileSha256(side, &actual) || !SameSha256(actual, sha256)) {
            TraceLine("qen: checksum of %s is %s, the list says %s", destination.c_str(), actual.c_str(),
                      sha256.c_str());
            RemoveSideFiles(destination);
            ShowDownloadError(FormatText("校验文件%s失败.", destination.c_str()));
            return false;
        }
    }
    if (!FlushToDisk(side) || !::MoveFileExW(side.c_str(), GbkToWide(destination).c_str(),
                                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        // The side file stays whole: the next attempt finds it complete and tries again.
        ShowDownloadError(FormatText("替换文件%s失败. 错误号:%d.", destination.c_str(),
                                     static_cast<int>(::GetLastError())));
        return false;
    }
    DeleteLocalFile(InfoPath(destination));
    return true;
}
