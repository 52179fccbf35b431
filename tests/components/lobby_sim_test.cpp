// The lobby simulator: its options and records, its stream handling, and the program itself
// talking to a plain socket the way the updater does.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "components/lobby-sim/record_describe.h"
#include "framework/winsock_session.h"
#include "framework/scoped_handle.h"
#include "components/lobby-sim/send_plan.h"
#include "components/lobby-sim/sim_options.h"
#include "lobby/update_record.h"

using namespace lobbysim;

namespace {

std::string Bytes(const sUpdateStruct& record) {
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

sUpdateStruct Request(const std::wstring& argument) {
    sUpdateStruct record;
    std::string error;
    EXPECT_TRUE(ParseRequestArgument(argument, record, error)) << error;
    return record;
}

bool Refused(const std::vector<std::wstring>& args, const char* expectedInError) {
    SimOptions options;
    std::string error;
    if (ParseSimArgs(args, options, error)) return false;
    EXPECT_NE(error.find(expectedInError), std::string::npos) << error;
    return true;
}

// --- records and options ---------------------------------------------------------------

TEST(LobbySimOptions, RequestFieldsLandAtTheirOffsets) {
    std::string bytes = Bytes(Request(L"258,游戏大厅,http://h/a,b/u.txt,cfgkey"));
    ASSERT_EQ(bytes.size(), 1228u);
    EXPECT_EQ(bytes[0], 1) << "a request carries cCmd 1";
    EXPECT_EQ(bytes.substr(1, 3), std::string(3, '\0'));
    EXPECT_EQ(bytes.substr(4, 4), std::string("\x02\x01\0\0", 4)) << "little-endian game id";
    EXPECT_EQ(bytes.substr(8, 9), std::string("游戏大厅") + '\0') << "GBK name, 8 bytes";
    EXPECT_EQ(bytes.substr(208, 19), std::string("http://h/a,b/u.txt") + '\0') << "only the URL keeps commas";
    EXPECT_EQ(bytes.substr(1208, 7), std::string("cfgkey") + '\0');
    EXPECT_EQ(bytes.substr(1215), std::string(13, '\0'));
    EXPECT_EQ(bytes.substr(17, 191), std::string(191, '\0')) << "the rest of a field is zero";

    EXPECT_EQ(Request(L"-5,,,").nGameID, -5);
    EXPECT_EQ(Bytes(Request(L"7,,,")).substr(8), std::string(1220, '\0')) << "empty texts are allowed";
}

TEST(LobbySimOptions, TextsThatDontFitAreRefused) {
    sUpdateStruct record;
    std::string error;
    const std::wstring longest = L"1," + std::wstring(199, L'n') + L"," + std::wstring(999, L'u') + L"," +
                                 std::wstring(19, L'k');
    EXPECT_TRUE(ParseRequestArgument(longest, record, error)) << error;
    EXPECT_EQ(record.szConfigKey[18], 'k');

    struct Case {
        std::wstring argument;
        const char* error;
    } cases[] = {
        {L"1," + std::wstring(200, L'n') + L",u,k", "game name is 200 bytes"},
        {L"1," + std::wstring(100, L'游') + L",u,k", "game name is 200 bytes"},  // 2 bytes each in GBK
        {L"1,n," + std::wstring(1000, L'u') + L",k", "URL is 1000 bytes"},
        {L"1,n,u," + std::wstring(20, L'k'), "config key is 20 bytes"},
        {L"1,\x0E01,u,k", "GBK can't hold"},  // a Thai letter
        {L"1,n,u", "needs ID,NAME,URL,KEY"},
        {L"x,n,u,k", "not a 32-bit integer"},
        {L",n,u,k", "not a 32-bit integer"},
        {L"2147483648,n,u,k", "not a 32-bit integer"},
    };
    for (const Case& c : cases) {
        error.clear();
        EXPECT_FALSE(ParseRequestArgument(c.argument, record, error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
}

TEST(LobbySimOptions, OptionValues) {
    SimOptions options;
    std::string error;
    ASSERT_TRUE(ParseSimArgs({}, options, error));
    EXPECT_EQ(options.nPort, 0) << "no --port: the port comes from kvgame.kcf";

    ASSERT_TRUE(ParseSimArgs({L"--port", L"7000", L"--request", L"1,a,u,k", L"--request=2,b,u,k",
                              L"--chunk", L"7", L"--delay-ms=0", L"--exit-on", L"reports:2", L"--timeout",
                              L"5", L"--dump", L"out dir", L"--linger-ms", L"50"},
                             options, error))
        << error;
    EXPECT_EQ(options.nPort, 7000);
    ASSERT_EQ(options.vecRequests.size(), 2u);
    EXPECT_EQ(options.vecRequests[1].nGameID, 2);
    EXPECT_EQ(options.nChunk, 7);
    EXPECT_EQ(options.nDelayMs, 0);
    EXPECT_EQ(options.exitOn, ExitOn::Reports);
    EXPECT_EQ(options.nReports, 2);
    EXPECT_EQ(options.nTimeoutS, 5);
    EXPECT_EQ(options.strDumpDir, L"out dir");
    EXPECT_EQ(options.nLingerMs, 50);

    ASSERT_TRUE(ParseSimArgs({L"--exit-on", L"start-game-room", L"--coalesce"}, options, error));
    EXPECT_EQ(options.exitOn, ExitOn::StartGameRoom);
    EXPECT_TRUE(options.bCoalesce);
    ASSERT_TRUE(ParseSimArgs({L"--exit-on=sent", L"--gap-ms", L"10"}, options, error));
    EXPECT_EQ(options.exitOn, ExitOn::Sent);
    EXPECT_EQ(options.nGapMs, 10);
}

TEST(LobbySimOptions, BadOptionsAreRefused) {
    EXPECT_TRUE(Refused({L"--bogus"}, "unknown option \"--bogus\""));
    EXPECT_TRUE(Refused({L"stray"}, "unknown option"));
    EXPECT_TRUE(Refused({L"--port"}, "--port needs a value"));
    EXPECT_TRUE(Refused({L"--port", L"0"}, "from 1 to 65535"));
    EXPECT_TRUE(Refused({L"--port", L"65536"}, "from 1 to 65535"));
    EXPECT_TRUE(Refused({L"--port", L"-1"}, "--port needs a number"));
    EXPECT_TRUE(Refused({L"--chunk", L"0"}, "--chunk needs a number"));
    EXPECT_TRUE(Refused({L"--timeout", L"1.5"}, "--timeout needs a number"));
    EXPECT_TRUE(Refused({L"--delay-ms", L""}, "--delay-ms needs a number"));
    EXPECT_TRUE(Refused({L"--exit-on", L"reports:0"}, "--exit-on takes"));
    EXPECT_TRUE(Refused({L"--exit-on", L"later"}, "--exit-on takes"));
    EXPECT_TRUE(Refused({L"--chunk", L"7", L"--coalesce"}, "exclude each other"));
    EXPECT_TRUE(Refused({L"--gap-ms", L"5", L"--coalesce"}, "--gap-ms applies only"));
    EXPECT_TRUE(Refused({L"--dump", L""}, "--dump needs a directory"));
    EXPECT_TRUE(Refused({L"--request", L"1,n,u,k", L"--request", L"2,n"}, "needs ID,NAME,URL,KEY"));
}

// --- what goes out, and how incoming bytes become records -------------------------------

TEST(LobbySimSendPlan, PiecesCarryTheRecordsInOrder) {
    SimOptions options;
    options.vecRequests = {Request(L"11,a,u,k"), Request(L"22,b,u,k")};
    const std::string stream = Bytes(options.vecRequests[0]) + Bytes(options.vecRequests[1]);

    options.nDelayMs = 100;
    options.nGapMs = 30;
    auto plan = BuildSendPlan(options);
    ASSERT_EQ(plan.size(), 2u);
    EXPECT_EQ(plan[0].nAtMs, 100);
    EXPECT_EQ(plan[1].nAtMs, 130);
    EXPECT_EQ(plan[0].bytes + plan[1].bytes, stream);
    EXPECT_EQ(plan[1].vecCompleted, std::vector<int32_t>{22});

    options.nGapMs = 0;
    options.nChunk = 7;
    plan = BuildSendPlan(options);
    ASSERT_EQ(plan.size(), 351u);  // 2456 bytes in pieces of 7, the last one 6 bytes
    std::string joined;
    std::vector<int32_t> completed;
    for (size_t i = 0; i < plan.size(); ++i) {
        EXPECT_LE(plan[i].bytes.size(), 7u);
        EXPECT_EQ(plan[i].nAtMs, 100 + static_cast<int>(i) * kChunkPauseMs);
        joined += plan[i].bytes;
        if (!plan[i].vecCompleted.empty()) completed.push_back(static_cast<int32_t>(i));
    }
    EXPECT_EQ(joined, stream);
    EXPECT_EQ(completed, (std::vector<int32_t>{175, 350})) << "byte 1228 is in piece 175";

    options.nChunk = 1228;
    plan = BuildSendPlan(options);
    ASSERT_EQ(plan.size(), 2u);
    EXPECT_EQ(plan[0].vecCompleted, std::vector<int32_t>{11});

    options.nChunk = 0;
    options.bCoalesce = true;
    plan = BuildSendPlan(options);
    ASSERT_EQ(plan.size(), 1u);
    EXPECT_EQ(plan[0].bytes, stream);
    EXPECT_EQ(plan[0].vecCompleted, (std::vector<int32_t>{11, 22}));
}

TEST(LobbySimDescribe, ReportsAndStartGameRoomRequests) {
    std::vector<sUpdateStruct> sent = {Request(L"42,游戏 \"one\",http://u,key")};
    sUpdateStruct report = MakeTaskEndedReport(sent[0]);
    RecordVerdict verdict = DescribeRecord(report, sent);
    EXPECT_EQ(verdict.strLine, u8"received task-ended report (cCmd 0) game 42 \"游戏 \\\"one\\\"\" url \"http://u\" "
                               u8"key \"key\", matches the request sent except cCmd");
    EXPECT_FALSE(verdict.bFaulty);

    report.szUrl[5] = 'X';
    verdict = DescribeRecord(report, sent);
    EXPECT_TRUE(verdict.bFaulty);
    EXPECT_NE(verdict.strLine.find("FAULTY: differs from the request sent at byte 213"), std::string::npos);
    report.nGameID = 43;
    verdict = DescribeRecord(report, sent);
    EXPECT_TRUE(verdict.bFaulty);
    EXPECT_NE(verdict.strLine.find("game 43"), std::string::npos);
    EXPECT_NE(verdict.strLine.find("FAULTY: no request was sent"), std::string::npos);

    sUpdateStruct room = MakeStartGameRoomRequest(42);
    verdict = DescribeRecord(room, sent);
    EXPECT_FALSE(verdict.bFaulty);
    EXPECT_EQ(verdict.strLine,
              "received start-game-room request (cCmd 3) game 42, reserved bytes and the 1220 bytes "
              "after the game id all zero");
    for (int nOffset : {1, 8, 1227}) {
        sUpdateStruct dirty = room;
        reinterpret_cast<unsigned char*>(&dirty)[nOffset] = 1;
        verdict = DescribeRecord(dirty, sent);
        EXPECT_TRUE(verdict.bFaulty);
        EXPECT_NE(verdict.strLine.find("FAULTY: byte " + std::to_string(nOffset) + " is not zero"),
                  std::string::npos);
    }

    sUpdateStruct odd = sent[0];
    odd.cCmd = 9;
    odd.szConfigKey[0] = '\n';
    verdict = DescribeRecord(odd, sent);
    EXPECT_TRUE(verdict.bFaulty);
    EXPECT_NE(verdict.strLine.find("unknown kind (cCmd 9) game 42"), std::string::npos);
    EXPECT_NE(verdict.strLine.find("key \"\\x0Aey\""), std::string::npos) << "control characters escaped";
}

// --- the program itself -----------------------------------------------------------------

struct HandleCloser {
    void operator()(HANDLE h) const {
        if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};
using CHandle = std::unique_ptr<void, HandleCloser>;

std::wstring TestDir() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

std::string ReadFileBytes(const std::wstring& path) {
    CHandle h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr));
    if (h.get() == INVALID_HANDLE_VALUE) return "<missing>";
    std::string bytes;
    char buf[4096];
    DWORD n = 0;
    while (ReadFile(h.get(), buf, sizeof buf, &n, nullptr) && n > 0) bytes.append(buf, n);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    CHandle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD n = 0;
    WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
}

class CWinsockFixture : public ::testing::Test {
protected:
    CWinsock m_winsock;
};

// A loopback port nobody listens on at the moment.
int FreePort() {
    ScopedSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    int len = sizeof addr;
    getsockname(s.Get(), reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

// lobby-sim.exe from the ready-to-copy folder, its stdout and stderr captured in a file.
class CSimProcess {
public:
    explicit CSimProcess(const std::vector<std::wstring>& args, const std::wstring& cwd = L"") {
        static int s_nRun = 0;
        m_strOutput = TestDir() + L"lobby_sim_out_" + std::to_wstring(++s_nRun) + L".txt";
        SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
        CHandle out(CreateFileW(m_strOutput.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0,
                                nullptr));
        std::wstring cmd = L"\"" + TestDir() + L"..\\bin\\lobby-sim.exe\"";
        for (const std::wstring& a : args) cmd += L" \"" + a + L"\"";
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = out.get();
        si.hStdError = out.get();
        PROCESS_INFORMATION pi = {};
        m_bStarted = CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr,
                                    cwd.empty() ? nullptr : cwd.c_str(), &si, &pi);
        EXPECT_TRUE(m_bStarted) << "can't start lobby-sim.exe, error " << GetLastError();
        if (m_bStarted) {
            m_process.reset(pi.hProcess);
            CloseHandle(pi.hThread);
        }
    }
    ~CSimProcess() {
        if (m_process && WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT)
            TerminateProcess(m_process.get(), 99);
        if (m_process) WaitForSingleObject(m_process.get(), 5000);
        DeleteFileW(m_strOutput.c_str());
    }

    // The exit status, or -1 if it still runs after the wait.
    int Wait(DWORD nMs = 30000) {
        if (!m_process || WaitForSingleObject(m_process.get(), nMs) != WAIT_OBJECT_0) return -1;
        DWORD nCode = 0;
        GetExitCodeProcess(m_process.get(), &nCode);
        return static_cast<int>(nCode);
    }
    std::string Output() const { return ReadFileBytes(m_strOutput); }

private:
    bool m_bStarted = false;
    CHandle m_process;
    std::wstring m_strOutput;
};

// Connects the way the updater does, retrying while the simulator starts up.
ScopedSocket ConnectTo(int nPort) {
    for (int nTry = 0; nTry < 300; ++nTry) {
        ScopedSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<u_short>(nPort));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(s.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            DWORD nTimeoutMs = 20000;
            setsockopt(s.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&nTimeoutMs),
                       sizeof nTimeoutMs);
            return s;
        }
        Sleep(50);
    }
    ADD_FAILURE() << "lobby-sim never listened on port " << nPort;
    return ScopedSocket();
}

// Exactly n bytes, however TCP splits them; also counts the reads it took.
std::string ReceiveExactly(SOCKET s, size_t n, int* pnReads = nullptr) {
    std::string bytes;
    int nReads = 0;
    while (bytes.size() < n) {
        char buf[4096];
        int got = recv(s, buf, static_cast<int>(std::min(sizeof buf, n - bytes.size())), 0);
        if (got <= 0) break;
        bytes.append(buf, got);
        ++nReads;
    }
    if (pnReads) *pnReads = nReads;
    return bytes;
}

void SendBytes(SOCKET s, const std::string& bytes) {
    ASSERT_EQ(send(s, bytes.data(), static_cast<int>(bytes.size()), 0), static_cast<int>(bytes.size()));
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

using LobbySimProgram = CWinsockFixture;

TEST_F(LobbySimProgram, SendsRequestsAndExitsAfterStartGameRoom) {
    const std::wstring dump = TestDir() + L"lobby_sim_dump";
    for (int i = 1; i <= 4; ++i) DeleteFileW((dump + L"\\recv-00" + std::to_wstring(i) + L".bin").c_str());
    const int nPort = FreePort();
    const std::wstring specs[] = {L"42,游戏大厅,http://127.0.0.1/g/42.txt,cfg42", L"7,second,http://x/7,k"};
    CSimProcess sim({L"--port", std::to_wstring(nPort), L"--request", specs[0], L"--request", specs[1],
                     L"--exit-on", L"start-game-room", L"--dump", dump, L"--delay-ms", L"50"});
    ScopedSocket link = ConnectTo(nPort);
    ASSERT_TRUE(link.IsValid());
    const sUpdateStruct requests[] = {Request(specs[0]), Request(specs[1])};
    ASSERT_EQ(ReceiveExactly(link.Get(), 2 * 1228), Bytes(requests[0]) + Bytes(requests[1]));

    const std::string sent[] = {Bytes(MakeTaskEndedReport(requests[1])), Bytes(MakeTaskEndedReport(requests[0])),
                                Bytes(MakeStartGameRoomRequest(42))};
    for (const std::string& record : sent) SendBytes(link.Get(), record);
    EXPECT_EQ(sim.Wait(), 0) << sim.Output();

    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(ReadFileBytes(dump + L"\\recv-00" + std::to_wstring(i + 1) + L".bin"), sent[i]) << i;
    const std::string out = sim.Output();
    EXPECT_TRUE(Contains(out, "lobby-sim: listening on 127.0.0.1:" + std::to_string(nPort) + "\n")) << out;
    EXPECT_TRUE(Contains(out, "lobby-sim: updater connected\n")) << out;
    EXPECT_TRUE(Contains(out, "lobby-sim: sent request for game 42 (1228 bytes)\n")) << out;
    EXPECT_TRUE(Contains(out, u8"game 42 \"游戏大厅\" url \"http://127.0.0.1/g/42.txt\" key \"cfg42\", matches"))
        << "the name is printed as UTF-8: " << out;
    EXPECT_TRUE(Contains(out, "received start-game-room request (cCmd 3) game 42, reserved")) << out;
    for (int i = 1; i <= 3; ++i) DeleteFileW((dump + L"\\recv-00" + std::to_wstring(i) + L".bin").c_str());
    RemoveDirectoryW(dump.c_str());
}

TEST_F(LobbySimProgram, ChunkedDeliveryIsByteExact) {
    const int nPort = FreePort();
    const std::wstring argument = L"9,chunked,http://x/9.txt,k9";
    CSimProcess sim({L"--port", std::to_wstring(nPort), L"--request", argument, L"--chunk", L"7", L"--delay-ms",
                     L"0", L"--exit-on", L"start-game-room"});
    ScopedSocket link = ConnectTo(nPort);
    ASSERT_TRUE(link.IsValid());
    int nReads = 0;
    EXPECT_EQ(ReceiveExactly(link.Get(), 1228, &nReads), Bytes(Request(argument)));
    EXPECT_GT(nReads, 10) << "the record should arrive in many small pieces";
    SendBytes(link.Get(), Bytes(MakeStartGameRoomRequest(9)));
    EXPECT_EQ(sim.Wait(), 0) << sim.Output();
}

TEST_F(LobbySimProgram, CoalescedRecordsAndReportsSplitAnyhow) {
    const int nPort = FreePort();
    CSimProcess sim({L"--port", std::to_wstring(nPort), L"--request", L"1,a,u,k", L"--request", L"2,b,u,k",
                     L"--coalesce", L"--delay-ms", L"0", L"--exit-on", L"reports:2"});
    ScopedSocket link = ConnectTo(nPort);
    ASSERT_TRUE(link.IsValid());
    const std::string requests = ReceiveExactly(link.Get(), 2 * 1228);
    ASSERT_EQ(requests.size(), 2u * 1228);
    std::string reports = requests;
    reports[0] = reports[1228] = 0;
    SendBytes(link.Get(), reports.substr(0, 1000));
    Sleep(100);
    SendBytes(link.Get(), reports.substr(1000));
    EXPECT_EQ(sim.Wait(), 0) << sim.Output();
    EXPECT_TRUE(Contains(sim.Output(), "game 2 \"b\" url \"u\" key \"k\", matches")) << sim.Output();
}

TEST_F(LobbySimProgram, PortComesFromKvgameKcf) {
    const std::wstring dir = TestDir() + L"lobby_sim_cwd";
    CreateDirectoryW(dir.c_str(), nullptr);
    const int nPort = FreePort();
    WriteFileBytes(dir + L"\\kvgame.kcf", "[GameSet]\r\nUpdateSetPort=" + std::to_string(nPort) + "\r\n");
    CSimProcess sim({L"--request", L"5,n,u,k", L"--delay-ms", L"0", L"--exit-on", L"sent", L"--linger-ms",
                     L"100"},
                    dir);
    ScopedSocket link = ConnectTo(nPort);
    ASSERT_TRUE(link.IsValid());
    EXPECT_EQ(ReceiveExactly(link.Get(), 1228), Bytes(Request(L"5,n,u,k")));
    EXPECT_EQ(sim.Wait(), 0) << sim.Output();
    DeleteFileW((dir + L"\\kvgame.kcf").c_str());
    RemoveDirectoryW(dir.c_str());
}

TEST_F(LobbySimProgram, ExitStatusSaysWhyItStopped) {
    {
        const int nPort = FreePort();
        CSimProcess sim({L"--port", std::to_wstring(nPort), L"--exit-on", L"start-game-room"});
        ScopedSocket link = ConnectTo(nPort);
        ASSERT_TRUE(link.IsValid());
        SendBytes(link.Get(), std::string(100, 'x'));
        link.Close();  // the updater goes away mid-record
        EXPECT_EQ(sim.Wait(), kExitDisconnected) << sim.Output();
        EXPECT_TRUE(Contains(sim.Output(), "partial record of 100 bytes")) << sim.Output();
    }
    {
        const int nPort = FreePort();
        CSimProcess sim({L"--port", std::to_wstring(nPort), L"--exit-on", L"start-game-room"});
        ScopedSocket link = ConnectTo(nPort);
        ASSERT_TRUE(link.IsValid());
        sUpdateStruct room = MakeStartGameRoomRequest(5);
        room.szGameName[0] = 'x';  // the texts of a start-game-room request must stay empty
        SendBytes(link.Get(), Bytes(room));
        EXPECT_EQ(sim.Wait(), kExitFaultyRecord) << sim.Output();
        EXPECT_TRUE(Contains(sim.Output(), "1 of 1 received records were faulty")) << sim.Output();
    }
    {
        CSimProcess sim({L"--port", std::to_wstring(FreePort()), L"--timeout", L"1"});
        EXPECT_EQ(sim.Wait(), kExitTimeout) << sim.Output();
        EXPECT_TRUE(Contains(sim.Output(), "timed out after 1 s")) << sim.Output();
    }
    {
        CSimProcess sim({L"--request", L"1,name"});
        EXPECT_EQ(sim.Wait(), kExitError);
        EXPECT_TRUE(Contains(sim.Output(), "lobby-sim: error: --request needs ID,NAME,URL,KEY")) << sim.Output();
    }
    {
        ScopedSocket busy(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        const int nPort = FreePort();
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<u_short>(nPort));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(busy.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ASSERT_EQ(listen(busy.Get(), 1), 0);
        CSimProcess sim({L"--port", std::to_wstring(nPort)});
        EXPECT_EQ(sim.Wait(), kExitError) << "the port is taken";
        EXPECT_TRUE(Contains(sim.Output(), "bind to 127.0.0.1:" + std::to_string(nPort) + " failed"))
            << sim.Output();
    }
    {
        CSimProcess sim({L"--help"});
        EXPECT_EQ(sim.Wait(), 0);
        EXPECT_TRUE(Contains(sim.Output(), "usage: lobby-sim")) << sim.Output();
    }
}

}  // namespace
