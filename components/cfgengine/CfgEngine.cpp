#include "CfgEngine.h"

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "ini_parser.h"

using cfgengine::CIniData;

namespace {

// A configuration file is a few lines; anything this large is not one.
constexpr LONGLONG kMaxFileSize = 16 * 1024 * 1024;

struct FileCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using CScopedFile = std::unique_ptr<void, FileCloser>;

std::mutex g_mutex;
std::map<unsigned long, std::shared_ptr<const CIniData>> g_mapHandles;
unsigned long g_nNextHandle = CFG_FIRST_HANDLE;

// File names are GBK like every string of the system, whatever the ANSI code page is.
bool ReadWholeFile(const char* file, std::string& text) {
    int nChars = MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, file, -1, nullptr, 0);
    if (nChars <= 1) return false;
    std::wstring wide(nChars, L'\0');
    MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, file, -1, &wide[0], nChars);

    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CScopedFile owner(h);
    LARGE_INTEGER size;
    if (!GetFileSizeEx(h, &size) || size.QuadPart > kMaxFileSize) return false;
    text.assign(static_cast<size_t>(size.QuadPart), '\0');
    size_t nDone = 0;
    while (nDone < text.size()) {
        DWORD nRead = 0;
        if (!ReadFile(h, &text[nDone], static_cast<DWORD>(text.size() - nDone), &nRead, nullptr))
            return false;
        if (nRead == 0) break;  // the file shrank while we read it
        nDone += nRead;
    }
    text.resize(nDone);
    return true;
}

}  // namespace

extern "C" CFGENGINE_API unsigned long cfgOpenFile(const char* file, const char* /*second*/) {
    if (!file) return 0;
    try {
        std::string text;
        if (!ReadWholeFile(file, text)) return 0;
        auto data = std::make_shared<const CIniData>(CIniData::Parse(text));

        std::lock_guard<std::mutex> lock(g_mutex);
        // Skip handles still in use once the counter has wrapped, and never hand out 0..15.
        while (g_nNextHandle < CFG_FIRST_HANDLE || g_mapHandles.count(g_nNextHandle)) ++g_nNextHandle;
        unsigned long handle = g_nNextHandle++;
        g_mapHandles[handle] = std::move(data);
        return handle;
    } catch (...) {
        return 0;  // out of memory: an error code, never an exception across the C boundary
    }
}

extern "C" CFGENGINE_API int cfgGetValue(unsigned long handle, const char* section, const char* key,
                                         int defaultValue) {
    if (!section || !key) return defaultValue;
    try {
        std::shared_ptr<const CIniData> data;
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            auto it = g_mapHandles.find(handle);
            if (it == g_mapHandles.end()) return defaultValue;
            data = it->second;
        }
        const std::string* value = data->Find(section, key);
        int nValue = 0;
        return value && cfgengine::ParseIntValue(*value, nValue) ? nValue : defaultValue;
    } catch (...) {
        return defaultValue;
    }
}

extern "C" CFGENGINE_API void cfgClose(unsigned long handle) {
    std::shared_ptr<const CIniData> data;  // released outside the lock
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = g_mapHandles.find(handle);
    if (it == g_mapHandles.end()) return;
    data = std::move(it->second);
    g_mapHandles.erase(it);
}
