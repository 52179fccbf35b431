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
    ReleaseVerdict verdict;
    {
        std::lock_guard<std::mutex> lock(g_storeMutex);
        const std::string path = SerialStorePath();
        SerialStore store = LoadSerialStore(path);
        verdict = DecideRelease(info, url, sha256Hex, NowUtcSeconds(), store);
        if (verdict == ReleaseVerdict::kAccepted) {
            std::uint64_t serial = 0;
            ParseSerial(info.serial, &serial);
            store[url] = AcceptedRelease{serial, sha256Hex};
            // A folder the updater cannot write must not stop every update; the file is
            // still the publisher's and current.
            if (!SaveSerialStore(path, store))
                TraceLine("qen: serial %s of %s not recorded", info.serial.c_str(), url.c_str());
        }
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
