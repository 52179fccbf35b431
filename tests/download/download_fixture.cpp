#include "tests/download/download_fixture.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "framework/message_box.h"
#include "process/exit_flag.h"
#include "process/process_values.h"
#include "tests/support/child_process.h"

const char kUnstableText[] = "对不起，您的网络不稳定，请回复后请继续下载";

void DownloadTest::SetUp() {
    ASSERT_TRUE(m_server.IsListening());
    m_appDir = MakeTempFolder("download-test-") + "\\";
    std::snprintf(g_szAppDir, sizeof g_szAppDir, "%s", m_appDir.c_str());
    g_hMainWnd = nullptr;
    g_pTaskList = nullptr;
    g_bExit = false;
    SetMessageBoxFunction([this](HWND, const std::string& text, const std::string& title, UINT type) {
        std::lock_guard<std::mutex> lock(m_boxMutex);
        m_boxes.push_back({text, title, type});
        return static_cast<int>(m_answer);
    });
}

void DownloadTest::TearDown() {
    SetMessageBoxFunction(nullptr);
    g_bExit = false;
}

TaskPtr DownloadTest::NewTask(int row) {
    sUpdateStruct request = {};
    request.nGameID = 7;
    return CreateTask(request, nullptr, row);
}

std::vector<ShownBox> DownloadTest::Boxes() {
    std::lock_guard<std::mutex> lock(m_boxMutex);
    return m_boxes;
}

int DownloadTest::CountBoxes(const std::string& text) {
    int count = 0;
    for (const ShownBox& box : Boxes()) count += box.text == text;
    return count;
}

bool PackageReceiver::Take(uint64_t offset, const char* data, size_t size) {
    auto inside = std::find_if(ranges.begin(), ranges.end(),
                               [&](const ByteRange& r) { return r.first <= offset && offset < r.end; });
    if (refuse || inside == ranges.end() || offset < next || (offset != next && offset != inside->first)) return false;
    uint64_t reach = inside->end;
    for (auto r = inside + 1; r != ranges.end() && r->first == reach; ++r) reach = r->end;
    if (offset + size > reach) return false;
    bytes.append(data, size);
    next = offset + size;
    return true;
}

uint64_t PackageReceiver::Restart() {
    ++restarts;
    for (const ByteRange& r : ranges) {
        if (r.first < next && next < r.end) {
            bytes.resize(bytes.size() - (next - r.first));
            next = r.first;
        }
    }
    return std::max(next, ranges.empty() ? 0 : ranges.front().first);
}

std::string PackageReceiver::Expected(const std::string& body) const {
    std::string expected;
    for (const ByteRange& r : ranges) expected += body.substr(r.first, r.end - r.first);
    return expected;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string MakeBody(size_t size, int seed) {
    std::string body(size, '\0');
    uint32_t state = 2166136261u ^ static_cast<uint32_t>(seed);
    for (char& c : body) {
        state = state * 16777619u + 12345u;
        c = static_cast<char>(state >> 24);
    }
    return body;
}
