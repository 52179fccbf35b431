#include "update/serial_store.h"

#include <windows.h>

#include "framework/gbk_text.h"
#include "framework/scoped_handle.h"
#include "framework/trace.h"
#include "update/small_file.h"
#include "update/update_paths.h"

namespace {
// One line per URL after the header: "<serial> <sha256> <url>\r\n"; the URL is last because
// it is the only field that may hold spaces.
const char kHeader[] = "update-serials 1";
const char kLineEnd[] = "\r\n";
constexpr size_t kStoreFileLimit = 1024 * 1024;
constexpr std::uint64_t kMaxSerial = 9223372036854775807ULL;
// A scanner or a backup holds a file for a moment: a few tries within a second outlast it.
constexpr int kTries = 5;
constexpr DWORD kPauseMs = 200;

bool IsLowerHexDigest(const std::string& text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool ParseLine(const std::string& line, SerialStore* store) {
    size_t firstSpace = line.find(' ');
    if (firstSpace == std::string::npos) return false;
    size_t secondSpace = line.find(' ', firstSpace + 1);
    if (secondSpace == std::string::npos) return false;
    AcceptedRelease release;
    std::string url = line.substr(secondSpace + 1);
    release.sha256 = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    if (!ParseSerial(line.substr(0, firstSpace), &release.serial) || !IsLowerHexDigest(release.sha256) ||
        url.empty() || store->count(url))
        return false;
    (*store)[url] = release;
    return true;
}

// The whole text or nothing: a store that is partly unreadable is not trusted in part.
bool ParseStore(const std::string& text, SerialStore* store) {
    size_t at = 0;
    bool header = true;
    while (at < text.size()) {
        size_t end = text.find(kLineEnd, at);
        if (end == std::string::npos) return false;  // cut short
        std::string line = text.substr(at, end - at);
        if (header ? line != kHeader : !ParseLine(line, store)) return false;
        header = false;
        at = end + 2;
    }
    return !header;
}

std::string StoreText(const SerialStore& store) {
    std::string text = std::string(kHeader) + kLineEnd;
    for (const auto& entry : store)
        text += std::to_string(entry.second.serial) + " " + entry.second.sha256 + " " + entry.first + kLineEnd;
    return text;
}
}  // namespace

bool ParseSerial(const std::string& text, std::uint64_t* serial) {
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    std::uint64_t value = 0;
    for (char digit : text) value = value * 10 + static_cast<std::uint64_t>(digit - '0');  // 19 digits fit
    if (value < 1 || value > kMaxSerial) return false;
    *serial = value;
    return true;
}

std::string SerialStorePath() { return JoinPath(GetModuleDir(), kSerialStoreFileName); }

bool LoadSerialStore(const std::string& path, SerialStore* store) {
    store->clear();
    std::string text;
    DWORD error = ERROR_SUCCESS;
    for (int attempt = 1; !ReadSmallFile(path, kStoreFileLimit, &text, &error); ++attempt) {
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
        if (attempt == kTries) {
            TraceLine("qen: %s cannot be read (error %lu)", path.c_str(), error);
            return false;
        }
        ::Sleep(kPauseMs);
    }
    if (!ParseStore(text, store)) {
        TraceLine("qen: %s is damaged: no serial counts as seen", path.c_str());
        store->clear();
    }
    return true;
}

bool SaveSerialStore(const std::string& path, const SerialStore& store) {
    const std::wstring target = GbkToWide(path);
    const std::wstring side = target + L".part";
    const std::string text = StoreText(store);
    for (int attempt = 1;; ++attempt) {
        bool written = false;
        {
            ScopedKernelHandle file(::CreateFileW(side.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
            DWORD done = 0;
            written = file.IsValid() &&
                      ::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &done, nullptr) &&
                      done == text.size() && ::FlushFileBuffers(file.Get());
        }
        if (written &&
            ::MoveFileExW(side.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = ::GetLastError();
        ::DeleteFileW(side.c_str());
        if (attempt == kTries) {
            TraceLine("qen: %s cannot be written (error %lu)", path.c_str(), error);
            return false;
        }
        ::Sleep(kPauseMs);
    }
}
