#include "update/release_acceptance.h"

#include <windows.h>

#include <mutex>

#include "download/download_messages.h"
#include "framework/trace.h"
#include "update/engine_messages.h"
#include "update/serial_store.h"

namespace {
// Load, decide and save are one step: two files accepted at once must not lose a serial.
std::mutex g_storeMutex;

std::int64_t NowUtcSeconds() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    // 100 ns ticks since 1601-01-01 to seconds since 1970-01-01.
    return static_cast<std::int64_t>((ticks.QuadPart - 116444736000000000ULL) / 10000000ULL);
}
}  // namespace

void ShowReleaseRefusal(ReleaseVerdict verdict, const std::string& url) {
    const char* format = nullptr;
    switch (verdict) {
    case ReleaseVerdict::kAccepted:
        return;
    case ReleaseVerdict::kMissing:
        format = "更新文件%s缺少有效的发布信息.";
        break;
    case ReleaseVerdict::kOtherUrl:
        format = "更新文件%s不属于此网址.";
        break;
    case ReleaseVerdict::kOlder:
        format = "更新文件%s比已安装的版本旧.";
        break;
    case ReleaseVerdict::kExpired:
        format = "更新文件%s已过期.";
        break;
    }
    ShowEngineError(FormatText(format, url.c_str()));
}

bool AcceptRelease(const std::string& url, const ReleaseInfo& info, const std::string& sha256Hex) {
    ReleaseVerdict verdict = ReleaseVerdict::kAccepted;
    std::string storeFailure;  // shown once the store is let go
    {
        std::lock_guard<std::mutex> lock(g_storeMutex);
        const std::string path = SerialStorePath();
        SerialStore store;
        if (!LoadSerialStore(path, &store)) {
            // Without the serials seen so far any older release would pass: install nothing.
            storeFailure = FormatText("无法读取已接受的版本记录%s.", path.c_str());
        } else {
            verdict = DecideRelease(info, url, sha256Hex, NowUtcSeconds(), store);
            if (verdict == ReleaseVerdict::kAccepted) {
                std::uint64_t serial = 0;
                ParseSerial(info.serial, &serial);
                store[url] = AcceptedRelease{serial, sha256Hex};
                // Accepted only once remembered: a serial that was not kept could be undercut
                // by a replay of the release before it.
                if (!SaveSerialStore(path, store))
                    storeFailure = FormatText("无法保存已接受的版本记录%s.", path.c_str());
            }
        }
    }
    if (!storeFailure.empty()) {
        ShowEngineError(storeFailure);
        return false;
    }
    if (verdict != ReleaseVerdict::kAccepted) {
        TraceLine("qen: release of %s refused: url %s, serial %s, expires %s", url.c_str(), info.url.c_str(),
                  info.serial.c_str(), info.expires.c_str());
        ShowReleaseRefusal(verdict, url);
        return false;
    }
    TraceLine("qen: release of %s accepted: serial %s, expires %s", url.c_str(), info.serial.c_str(),
              info.expires.c_str());
    return true;
}
