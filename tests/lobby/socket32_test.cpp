// The lobby link against an in-process lobby: port, connection, whole records, shutdown.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "framework/trace.h"
#include "lobby/socket32.h"
#include "tests/support/test_lobby.h"

namespace {

using Clock = std::chrono::steady_clock;

class RecordCollector : public ISimpleSocket {
public:
    void OnReceive(const char* data, int length) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_blocks.emplace_back(data, static_cast<size_t>(length));
        m_changed.notify_all();
    }
    bool WaitFor(size_t count, int timeoutMs) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_blocks.size() >= count; });
    }
    std::vector<std::string> Blocks() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_blocks;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_blocks;
};

class TraceCollector {
public:
    TraceCollector() {
        SetTraceSink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back(line);
        });
    }
    ~TraceCollector() { SetTraceSink(nullptr); }
    int Count(const std::string& prefix) {
        std::lock_guard<std::mutex> lock(m_mutex);
        int n = 0;
        for (const std::string& line : m_lines) n += line.compare(0, prefix.size(), prefix) == 0;
        return n;
    }
    bool Has(const std::string& line) {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const std::string& l : m_lines) {
            if (l == line) return true;
        }
        return false;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

const char kReceiveErrorPrefix[] = "qen: SimpleSocket->Receive(..) 错误，可能断线.0 err = ";

// Requests as the lobby sends them: cCmd 1, text fields terminated, an http URL, the rest varied by seed.
std::string Records(int count, int seed) {
    std::string bytes(static_cast<size_t>(count) * kRecordSize, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(0x41 + (i * 13 + seed * 101 + i / 7) % 26);
    for (int r = 0; r < count; ++r) {
        char* record = &bytes[static_cast<size_t>(r) * kRecordSize];
        record[0] = kCmdRequest;
        std::memcpy(record + 208, "http://", 7);
        record[8 + 199] = record[208 + 999] = record[1208 + 19] = '\0';
    }
    return bytes;
}

class Socket32Test : public ::testing::Test {
protected:
    void SetUp() override { std::remove("kvgame.kcf"); }
    void TearDown() override { std::remove("kvgame.kcf"); }
};

TEST_F(Socket32Test, ConnectsToThePortOfTheConfigFile) {
    TraceCollector traces;
    TestLobby lobby;
    ASSERT_TRUE(lobby.IsListening());
    WriteLobbyConfig("", lobby.Port());

    CSocket32 link;
    EXPECT_EQ(lobby.Port(), link.GetPort());
    RecordCollector collector;
    EXPECT_TRUE(link.SetClientSimpleSocket(&collector));
    EXPECT_TRUE(lobby.Accept(5000));
    EXPECT_TRUE(traces.Has("lumo456: update SetClientSimpleSocket port no  " + std::to_string(lobby.Port())));
}

TEST_F(Socket32Test, PortIs6123WithoutConfigFileOrKey) {
    {
        CSocket32 link;
        EXPECT_FALSE(link.ReadPort());
        EXPECT_EQ(6123, link.GetPort());
    }
    {
        std::FILE* file = std::fopen("kvgame.kcf", "wb");
        std::fputs("[GameSet]\r\nOtherKey=99\r\n", file);
        std::fclose(file);
        CSocket32 link;
        EXPECT_TRUE(link.ReadPort());
        EXPECT_EQ(6123, link.GetPort());
    }
    std::remove("kvgame.kcf");
    TestLobby lobby(6123);
    if (!lobby.IsListening()) GTEST_SKIP() << "port 6123 is taken on this machine";
    CSocket32 link;
    RecordCollector collector;
    link.SetClientSimpleSocket(&collector);
    EXPECT_TRUE(lobby.Accept(5000));
}

unsigned long g_fakeHandle = 0;
unsigned long FakeOpen(const char*, const char*) { return g_fakeHandle; }
int FakeGet(unsigned long, const char*, const char*, int) { return 7001; }
void FakeClose(unsigned long) {}

TEST_F(Socket32Test, HandleBelowSixteenMeansTheFileWasNotOpened) {
    CfgApi fake{FakeOpen, FakeGet, FakeClose};
    int port = 1;
    g_fakeHandle = 15;
    EXPECT_FALSE(ReadLobbyPort(fake, &port));
    EXPECT_EQ(1, port);
    g_fakeHandle = 16;
    EXPECT_TRUE(ReadLobbyPort(fake, &port));
    EXPECT_EQ(7001, port);

    g_fakeHandle = 0;
    CSocket32 link(fake);
    EXPECT_EQ(6123, link.GetPort());
}

TEST_F(Socket32Test, RecordsArriveWholeWhateverTheReadBoundaries) {
    TestLobby lobby;
    WriteLobbyConfig("", lobby.Port());
    CSocket32 link;
    RecordCollector collector;
    link.SetClientSimpleSocket(&collector);
    ASSERT_TRUE(lobby.Accept(5000));

    std::string stream;
    // One byte at a time.
    std::string first = Records(2, 1);
    for (char byte : first) {
        ASSERT_TRUE(lobby.Send(&byte, 1));
        if (&byte - first.data() == 600) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stream += first;
    // Halves, with a pause so they arrive as two reads.
    std::string halves = Records(1, 2);
    ASSERT_TRUE(lobby.Send(halves.data(), 614));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(lobby.Send(halves.data() + 614, 614));
    stream += halves;
    // Random boundaries.
    std::string random = Records(5, 3);
    std::mt19937 generator(5);
    for (size_t offset = 0; offset < random.size();) {
        size_t piece = std::min<size_t>(random.size() - offset, 1 + generator() % 3000);
        ASSERT_TRUE(lobby.Send(random.data() + offset, piece));
        offset += piece;
        std::this_thread::sleep_for(std::chrono::milliseconds(generator() % 5));
    }
    stream += random;
    // Coalesced: two records in one send.
    std::string coalesced = Records(2, 4);
    ASSERT_TRUE(lobby.Send(coalesced.data(), coalesced.size()));
    stream += coalesced;

    size_t expected = stream.size() / kRecordSize;
    ASSERT_TRUE(collector.WaitFor(expected, 10000));
    std::vector<std::string> blocks = collector.Blocks();
    ASSERT_EQ(expected, blocks.size());
    for (size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(stream.substr(i * kRecordSize, kRecordSize), blocks[i]) << "record " << i;
    }
}

TEST_F(Socket32Test, RecordCutShortByTheLobbyIsDroppedAndTraced) {
    TraceCollector traces;
    TestLobby lobby;
    WriteLobbyConfig("", lobby.Port());
    CSocket32 link;
    RecordCollector collector;
    link.SetClientSimpleSocket(&collector);
    ASSERT_TRUE(lobby.Accept(5000));

    std::string whole = Records(1, 6);
    ASSERT_TRUE(lobby.Send(whole.data(), whole.size()));
    ASSERT_TRUE(lobby.Send(whole.data(), 1000));
    ASSERT_TRUE(collector.WaitFor(1, 5000));
    lobby.CloseConnection();

    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (traces.Count("qen: link ended inside a record, 1000 bytes dropped") == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(1, traces.Count("qen: link ended inside a record, 1000 bytes dropped"));
    EXPECT_EQ(1u, collector.Blocks().size());
}

// Started before the lobby listens: one line says so, attempts go on quietly, and a request
// sent once the lobby is there arrives.
TEST_F(Socket32Test, LinkStartedBeforeTheLobbyListensTakesARequestSentThreeSecondsLater) {
    TraceCollector traces;
    int port = 0;
    {
        TestLobby closed;
        port = closed.Port();
    }
    WriteLobbyConfig("", port);
    CSocket32 link;
    RecordCollector collector;
    link.SetClientSimpleSocket(&collector);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_FALSE(link.IsConnected());
    EXPECT_EQ(1, traces.Count("qen: lobby not reachable at port " + std::to_string(port)));
    EXPECT_EQ(0, traces.Count(kReceiveErrorPrefix));

    TestLobby lobby(port);
    ASSERT_TRUE(lobby.IsListening());
    auto listening = Clock::now();
    ASSERT_TRUE(lobby.Accept(2000)) << "the link did not come back";
    long long delay = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - listening).count();
    std::printf("lobby listening again: connected after %lld ms\n", delay);
    EXPECT_LE(delay, 1000);
    std::string request = Records(1, 9);
    ASSERT_TRUE(lobby.Send(request.data(), request.size()));
    ASSERT_TRUE(collector.WaitFor(1, 5000));
    EXPECT_EQ(request, collector.Blocks()[0]);
    EXPECT_EQ(1, traces.Count("qen: lobby link back"));
    EXPECT_TRUE(collector.Blocks().size() == 1);

    auto start = Clock::now();
    link.Shutdown();
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(700));
    EXPECT_FALSE(link.IsRunning());
}

// Junk from the lobby: the requests in later writes still arrive intact.
TEST_F(Socket32Test, StrayBytesAreDroppedAndTheRequestsAfterThemArrive) {
    TestLobby lobby;
    WriteLobbyConfig("", lobby.Port());
    CSocket32 link;
    RecordCollector collector;
    link.SetClientSimpleSocket(&collector);
    ASSERT_TRUE(lobby.Accept(5000));

    const std::string two = Records(2, 11);
    const std::string first = two.substr(0, kRecordSize);
    const std::string second = two.substr(kRecordSize);
    auto gap = [] { std::this_thread::sleep_for(std::chrono::milliseconds(150)); };
    ASSERT_TRUE(lobby.Send("\x09stray!", 7));
    gap();
    ASSERT_TRUE(lobby.Send(first.data(), first.size()));
    gap();
    ASSERT_TRUE(lobby.Send(second.data(), second.size()));
    ASSERT_TRUE(collector.WaitFor(2, 5000));

    const std::string more = Records(2, 12);
    std::string withJunk = more.substr(0, kRecordSize) + std::string(72, '\x5a');
    ASSERT_TRUE(lobby.Send(withJunk.data(), withJunk.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_TRUE(lobby.Send(more.data() + kRecordSize, kRecordSize));
    ASSERT_TRUE(collector.WaitFor(4, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    std::vector<std::string> blocks = collector.Blocks();
    ASSERT_EQ(4u, blocks.size());
    EXPECT_TRUE(blocks[0] == first);
    EXPECT_TRUE(blocks[1] == second);
    EXPECT_TRUE(blocks[2] == more.substr(0, kRecordSize));
    EXPECT_TRUE(blocks[3] == more.substr(kRecordSize));
}

TEST_F(Socket32Test, ShutdownEndsTheReceiveThreadPromptly) {
    TestLobby lobby;
    WriteLobbyConfig("", lobby.Port());
    RecordCollector collector;
    {
        CSocket32 link;
        link.SetClientSimpleSocket(&collector);
        ASSERT_TRUE(lobby.Accept(5000));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // blocked in recv now

        auto start = Clock::now();
        link.Shutdown();
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(700));
        std::string late = Records(1, 7);
        lobby.Send(late.data(), late.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(collector.Blocks().empty());
}

TEST_F(Socket32Test, SendRecordDeliversTheWholeRecord) {
    TestLobby lobby;
    WriteLobbyConfig("", lobby.Port());
    CSocket32 link;
    RecordCollector collector;
    link.SetClientSimpleSocket(&collector);
    ASSERT_TRUE(lobby.Accept(5000));
    // The lobby's accept can come before the link has taken its new socket.
    for (int i = 0; i < 250 && !link.IsConnected(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(link.IsConnected());

    sUpdateStruct report = MakeStartGameRoomRequest(42);
    EXPECT_TRUE(SendRecord(link.GetSocket(), report));
    char received[kRecordSize];
    ASSERT_TRUE(lobby.ReceiveExact(received, sizeof received, 5000));
    EXPECT_EQ(0, std::memcmp(received, &report, kRecordSize));

    link.Shutdown();
    TraceCollector traces;
    EXPECT_FALSE(SendRecord(link.GetSocket(), report));
    EXPECT_EQ(1, traces.Count("qen: send to lobby failed"));
}

}  // namespace
