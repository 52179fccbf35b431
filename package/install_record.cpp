#include "package/install_record.h"

#include <windows.h>

#include <sstream>

#include "framework/gbk_text.h"
#include "framework/scoped_handle.h"
#include "framework/sha256.h"
#include "framework/trace.h"

namespace {

const char kHeader[] = "updater-installed 1";
// Far above what 100,000 files need; a larger file is not ours.
constexpr uint64_t kRecordMaxBytes = 256u << 20;

std::wstring Key(const std::string& gbkPath) {
    std::wstring wide = GbkToWide(gbkPath);
    if (!wide.empty()) CharLowerBuffW(&wide[0], static_cast<DWORD>(wide.size()));
    return wide;
}

std::wstring SidePath(const std::string& path) { return GbkToWide(path + ".new"); }

bool ReadWhole(const std::string& path, std::string* bytes) {
    ScopedKernelHandle file(::CreateFileW(GbkToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    if (!file.IsValid() || !::GetFileSizeEx(file.Get(), &size) ||
        static_cast<uint64_t>(size.QuadPart) > kRecordMaxBytes)
        return false;
    bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    return bytes->empty() ||
           (::ReadFile(file.Get(), &(*bytes)[0], static_cast<DWORD>(bytes->size()), &got, nullptr) &&
            got == bytes->size());
}

// A decimal number as we write it: digits only, no leading zero, no overflow.
bool ParseNumber(const std::string& text, uint64_t* value) {
    if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0')) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        uint64_t next = v * 10 + static_cast<uint64_t>(c - '0');
        if (next / 10 != v) return false;
        v = next;
    }
    *value = v;
    return true;
}

bool IsLowerHex(const std::string& text) {
    return IsSha256Text(text) && text.find_first_of("ABCDEF") == std::string::npos;
}

// Cuts the next space-separated field off the front of `rest`.
std::string TakeField(std::string* rest) {
    size_t space = rest->find(' ');
    std::string field = rest->substr(0, space);
    rest->erase(0, space == std::string::npos ? rest->size() : space + 1);
    return field;
}

}  // namespace

InstallRecord::InstallRecord(std::string path) : m_path(std::move(path)) {}

std::string InstallRecord::DefaultPath() {
    wchar_t module[MAX_PATH];
    DWORD n = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring folder(module, n < MAX_PATH ? n : 0);
    size_t slash = folder.rfind(L'\\');
    folder.resize(slash == std::wstring::npos ? 0 : slash);
    return WideToGbk(folder) + "\\updater-installed.txt";
}

void InstallRecord::Load() {
    m_items.clear();
    // A side file of a write that was cut short holds nothing the record doesn't.
    ::DeleteFileW(SidePath(m_path).c_str());
    std::string text;
    if (!ReadWhole(m_path, &text)) return;  // none yet: every installed file is read once
    std::map<std::wstring, Item> items;
    size_t position = 0;
    bool headerSeen = false, ended = false;
    while (position < text.size()) {
        size_t end = text.find("\r\n", position);
        if (end == std::string::npos || ended) break;
        std::string line = text.substr(position, end - position);
        position = end + 2;
        if (!headerSeen) {
            if (line != kHeader) break;
            headerSeen = true;
            continue;
        }
        if (line.compare(0, 4, "end ") == 0) {
            uint64_t count = 0;
            ended = ParseNumber(line.substr(4), &count) && count == items.size();
            if (!ended) break;
            continue;
        }
        Item item;
        std::string rest = line;
        if (!ParseNumber(TakeField(&rest), &item.size) || !ParseNumber(TakeField(&rest), &item.lastWrite)) break;
        item.sha256 = TakeField(&rest);
        item.path = rest;
        std::wstring key = Key(item.path);
        if (!IsLowerHex(item.sha256) || key.empty() || !items.emplace(key, item).second) break;
    }
    if (!ended || position != text.size()) {
        TraceLine("qen: the record of installed files %s is damaged; every installed file is read again",
                  m_path.c_str());
        return;
    }
    m_items.swap(items);
}

std::string InstallRecord::HashIfUnchanged(const std::string& fullPath, uint64_t size, uint64_t lastWrite) const {
    auto found = m_items.find(Key(fullPath));
    if (found == m_items.end() || found->second.size != size || found->second.lastWrite != lastWrite)
        return std::string();
    return found->second.sha256;
}

void InstallRecord::Remember(const std::string& fullPath, uint64_t size, uint64_t lastWrite,
                             const std::string& sha256) {
    std::wstring key = Key(fullPath);
    // A path that is not GBK or a hash not in our form would damage the whole file.
    if (key.empty() || !IsLowerHex(sha256) || fullPath.find_first_of("\r\n") != std::string::npos) return;
    m_items[key] = Item{size, lastWrite, sha256, fullPath};
}

bool InstallRecord::Save() const {
    std::ostringstream text;
    text << kHeader << "\r\n";
    for (const auto& entry : m_items) {
        const Item& item = entry.second;
        text << item.size << ' ' << item.lastWrite << ' ' << item.sha256 << ' ' << item.path << "\r\n";
    }
    text << "end " << m_items.size() << "\r\n";
    const std::string bytes = text.str();
    // Written beside the record, flushed, then moved over it in one step: a power loss leaves
    // either the old record or the new one.
    const std::wstring side = SidePath(m_path);
    bool saved = false;
    {
        ScopedKernelHandle file(
            ::CreateFileW(side.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        saved = file.IsValid() &&
                ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                written == bytes.size() && ::FlushFileBuffers(file.Get());
    }
    saved = saved && ::MoveFileExW(side.c_str(), GbkToWide(m_path).c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!saved) {
        TraceLine("qen: cannot save the record of installed files %s (error %lu)", m_path.c_str(), GetLastError());
        ::DeleteFileW(side.c_str());
    }
    return saved;
}
