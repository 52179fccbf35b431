#pragma once
// What the download tests share: a program folder of their own, a recorder in place of
// message boxes, a scripted server, and file helpers.
#include <gtest/gtest.h>

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "download/package_ranges.h"
#include "lobby/task_queue.h"
#include "tests/support/test_http_server.h"

struct ShownBox {
    std::string text;
    std::string title;
    UINT type;
};

class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A task with the given row (-1: none).
    TaskPtr NewTask(int row = -1);
    std::string LocalPath(const std::string& name) const { return m_appDir + name; }
    std::vector<ShownBox> Boxes();
    int CountBoxes(const std::string& text);

    TestHttpServer m_server;
    std::string m_appDir;  // with the trailing backslash, as g_szAppDir
    UINT m_answer = IDOK;  // what the recorder answers

private:
    std::mutex m_boxMutex;
    std::vector<ShownBox> m_boxes;
};

// What an installer does with a package's bytes, reduced to keeping them: blocks in order,
// only inside `ranges` (touching ones count as one), each continuing the last or starting a
// range; a restart drops the range under way and goes on at its start.
struct PackageReceiver {
    std::vector<ByteRange> ranges;  // sorted, disjoint
    std::string bytes;
    uint64_t next = 0;  // one past the last byte taken
    int restarts = 0;
    bool refuse = false;

    bool Take(uint64_t offset, const char* data, size_t size);
    uint64_t Restart();
    // The bytes of `ranges` in `body`.
    std::string Expected(const std::string& body) const;
};

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
std::string MakeBody(size_t size, int seed);

extern const char kUnstableText[];
