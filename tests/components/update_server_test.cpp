// The update server: its request, path and range rules, and the program itself answering
// WinINet and raw sockets on loopback.
#include <winsock2.h>
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "components/update-server/byte_range.h"
#include "components/update-server/request_head.h"
#include "components/update-server/response_head.h"
#include "components/update-server/server_options.h"
#include "components/update-server/target_path.h"
#include "framework/internet_handle.h"
#include "framework/scoped_handle.h"

using namespace updsrv;

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// --- paths, ranges, request heads, options ----------------------------------------------

TEST(UpdateServerPath, TargetsMapUnderTheRoot) {
    struct Case {
        const char* target;
        const wchar_t* path;
    } cases[] = {
        {"/a.txt", L"a.txt"},
        {"/sub/with%20space.bin?v=2#top", L"sub\\with space.bin"},
        {"//sub/./x//y", L"sub\\x\\y"},
        {"/", L""},
        {"http://127.0.0.1:80/g/a.bin", L"g\\a.bin"},
        {"/%E6%B8%B8%E6%88%8F.txt", L"\x6E38\x620F.txt"},  // UTF-8
        {"/%D3%CE%CF%B7.txt", L"\x6E38\x620F.txt"},        // the same name in GBK
        // In GBK 0x5C can be the second byte of a character; it is no separator there.
        {"/%95%5C.txt", L"\x661E.txt"},
    };
    for (const Case& c : cases) {
        std::wstring path;
        std::string error;
        EXPECT_TRUE(TargetToRelativePath(c.target, path, error)) << c.target << ": " << error;
        EXPECT_EQ(path, c.path) << c.target;
    }
}

TEST(UpdateServerPath, EscapesFromTheRootAreRefused) {
    const char* refused[] = {
        "/../x",       "/%2e%2e/x",      "/%2E%2E/x",   "/..%5cx",      "/..%2fx",    "/a/../../x",
        "/C:/x",       "/C:x",           "/a.txt:s",    "/%5c%5cs/x",   "/x%00.txt",  "/x%0a",
        "/.../x",      "/x.",            "/x%20",       "/CON",         "/nul.txt",   "/com1.bin",
        "/a%zz",       "/a%4",           "/a%",         "x",            "*",          "/a*b",
        "http://h/../x",
    };
    for (const char* target : refused) {
        std::wstring path = L"unchanged";
        std::string error;
        EXPECT_FALSE(TargetToRelativePath(target, path, error)) << target << " gave " << path.size();
        EXPECT_FALSE(error.empty()) << target;
        EXPECT_TRUE(path.empty()) << target;
    }
}

TEST(UpdateServerRange, SingleRangesAreHonouredAndClamped) {
    struct Case {
        const char* range;
        uint64_t nSize;
        RangePlan::Kind kind;
        uint64_t nFirst, nLength;
    } cases[] = {
        {nullptr, 1000, RangePlan::Whole, 0, 1000},
        {"bytes=300-", 1000, RangePlan::Slice, 300, 700},
        {"bytes=2-5", 1000, RangePlan::Slice, 2, 4},
        {"bytes=990-5000", 1000, RangePlan::Slice, 990, 10},
        {"bytes=999-999", 1000, RangePlan::Slice, 999, 1},
        {"bytes=-10", 1000, RangePlan::Slice, 990, 10},
        {"bytes=-5000", 1000, RangePlan::Slice, 0, 1000},
        {"Bytes = 1 - 2 ", 1000, RangePlan::Slice, 1, 2},
        {"bytes=1000-", 1000, RangePlan::Unsatisfiable, 0, 0},
        {"bytes=99999999999999999999999-", 1000, RangePlan::Unsatisfiable, 0, 0},
        {"bytes=0-", 0, RangePlan::Unsatisfiable, 0, 0},
        {"bytes=-0", 1000, RangePlan::Unsatisfiable, 0, 0},
        {"bytes=4294967396-", 5000000000ull, RangePlan::Slice, 4294967396ull, 705032604ull},
        // Ignored: the whole file.
        {"bytes=5-2", 1000, RangePlan::Whole, 0, 1000},
        {"bytes=1-2,5-6", 1000, RangePlan::Whole, 0, 1000},
        {"items=1-2", 1000, RangePlan::Whole, 0, 1000},
        {"bytes=a-", 1000, RangePlan::Whole, 0, 1000},
        {"bytes=-", 1000, RangePlan::Whole, 0, 1000},
        {"bytes 1-2", 1000, RangePlan::Whole, 0, 1000},
        {"bytes=+1-2", 1000, RangePlan::Whole, 0, 1000},
    };
    for (const Case& c : cases) {
        std::string range = c.range ? c.range : "";
        RangePlan plan = PlanRange(c.range ? &range : nullptr, c.nSize);
        EXPECT_EQ(plan.kind, c.kind) << range;
        if (plan.kind == RangePlan::Unsatisfiable) continue;
        EXPECT_EQ(plan.nFirst, c.nFirst) << range;
        EXPECT_EQ(plan.nLength, c.nLength) << range;
    }
}

TEST(UpdateServerRequest, HeadsAreParsed) {
    const std::string text = "\r\nGET /a%20b HTTP/1.0\r\nHost: x\r\nRange:bytes=300-\r\nX-Empty:\r\n\r\nnext";
    ASSERT_EQ(FindHeadEnd(text), text.size() - 4);
    EXPECT_EQ(FindHeadEnd("GET / HTTP/1.1\nHost: x\n\n"), 24u) << "bare LF line ends";
    EXPECT_EQ(FindHeadEnd("GET / HTTP/1.1\r\nHost: x\r\n"), std::string::npos);

    RequestHead request;
    std::string error;
    ASSERT_EQ(ParseRequestHead(text.substr(0, text.size() - 4), request, error), 0) << error;
    EXPECT_EQ(request.strMethod, "GET");
    EXPECT_EQ(request.strTarget, "/a%20b");
    EXPECT_EQ(request.nMinorVersion, 0);
    ASSERT_NE(request.Find("range"), nullptr);
    EXPECT_EQ(*request.Find("range"), "bytes=300-");
    EXPECT_EQ(*request.Find("x-empty"), "");
    EXPECT_FALSE(WantsKeepAlive(request)) << "HTTP/1.0 closes";

    ASSERT_EQ(ParseRequestHead("HEAD / HTTP/1.1\r\nConnection: Keep-Alive, CLOSE\r\n\r\n", request, error), 0);
    EXPECT_FALSE(WantsKeepAlive(request));
    ASSERT_EQ(ParseRequestHead("GET / HTTP/1.1\r\nConnection: keep-alive\r\nContent-Length: 0\r\n\r\n", request,
                               error),
              0);
    EXPECT_TRUE(WantsKeepAlive(request));
    bool bHasBody = true;
    EXPECT_TRUE(ReadBodyLength(request, bHasBody, error));
    EXPECT_FALSE(bHasBody);

    struct Bad {
        const char* head;
        int nStatus;
    } bad[] = {
        {"GET / HTTP/2.0\r\n\r\n", 505},    {"GET /\r\n\r\n", 400},
        {"GET  / HTTP/1.1\r\n\r\n", 400},   {"GET / HTTP/1.1 x\r\n\r\n", 400},
        {"G(T / HTTP/1.1\r\n\r\n", 400},    {"GET / HTTP/1.1\r\nNo colon\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nA: b\r\n c\r\n\r\n", 400}, {"GET / HTTP/1.1\r\nBad name: b\r\n\r\n", 400},
        {"GET / HTTX/1.1\r\n\r\n", 400},    {"\r\n\r\n", 400},
    };
    for (const Bad& b : bad) {
        error.clear();
        EXPECT_EQ(ParseRequestHead(b.head, request, error), b.nStatus) << b.head;
        EXPECT_FALSE(error.empty()) << b.head;
    }
    for (const char* length : {"Content-Length: x\r\n", "Content-Length: 1\r\nContent-Length: 1\r\n"}) {
        ASSERT_EQ(ParseRequestHead(std::string("GET / HTTP/1.1\r\n") + length + "\r\n", request, error), 0);
        EXPECT_FALSE(ReadBodyLength(request, bHasBody, error)) << length;
    }
}

TEST(UpdateServerResponse, TypesDatesAndPages) {
    EXPECT_EQ(ContentTypeFor(L"sub\\Game.INI"), "text/plain");
    EXPECT_EQ(ContentTypeFor(L"a.txt\\data"), "application/octet-stream") << "an extension of the folder";
    SYSTEMTIME utc = {1994, 11, 0, 6, 8, 49, 37, 0};
    EXPECT_EQ(HttpDate(utc), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_TRUE(Contains(ErrorPage(400, "<a & \"b\">"), "&lt;a &amp; &quot;b&quot;&gt;"));
}

TEST(UpdateServerOptions, ValuesAndRefusals) {
    ServerOptions options;
    std::string error;
    ASSERT_TRUE(ParseServerArgs({L"--root", L"C:\\g d", L"--port=8080", L"--quiet", L"--exit-after-seconds", L"5"},
                                options, error))
        << error;
    EXPECT_EQ(options.strRoot, L"C:\\g d");
    EXPECT_EQ(options.nPort, 8080);
    EXPECT_TRUE(options.bQuiet);
    EXPECT_EQ(options.nExitAfterS, 5);
    EXPECT_EQ(options.nRateKiB, 0);
    ASSERT_TRUE(ParseServerArgs({L"--root", L"d", L"--rate-kib", L"600"}, options, error)) << error;
    EXPECT_EQ(options.nRateKiB, 600);
    ASSERT_TRUE(ParseServerArgs({L"--help"}, options, error));
    EXPECT_TRUE(options.bHelp);

    struct Bad {
        std::vector<std::wstring> args;
        const char* error;
    } bad[] = {
        {{}, "--root DIR is required"},
        {{L"--root="}, "--root needs a directory"},
        {{L"--root", L"d", L"--port", L"65536"}, "from 0 to 65535"},
        {{L"--root", L"d", L"--exit-after-seconds", L"0"}, "from 1 to 86400"},
        {{L"--root", L"d", L"--quiet=1"}, "--quiet takes no value"},
        {{L"--root", L"d", L"--rate-kib", L"0"}, "from 1 to 1048576"},
        {{L"--root", L"d", L"stray"}, "unknown option \"stray\""},
    };
    for (const Bad& b : bad) {
        error.clear();
        EXPECT_FALSE(ParseServerArgs(b.args, options, error)) << b.error;
        EXPECT_TRUE(Contains(error, b.error)) << error;
    }
}

// --- the program itself -----------------------------------------------------------------

std::wstring TestDir() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

std::string ReadFileBytes(const std::wstring& path) {
    ScopedKernelHandle h(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    char buf[4096];
    DWORD n = 0;
    while (h.IsValid() && ReadFile(h.Get(), buf, sizeof buf, &n, nullptr) && n > 0) bytes.append(buf, n);
    return bytes;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    ScopedKernelHandle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(h.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr));
}

std::string Pattern(size_t nSize, int nSeed) {
    std::string bytes(nSize, '\0');
    for (size_t i = 0; i < nSize; ++i) bytes[i] = static_cast<char>((i * 7 + nSeed + i / 251) & 0xFF);
    return bytes;
}

// update-server.exe from the ready-to-copy folder, its output captured in a file.
class CServerProcess {
public:
    explicit CServerProcess(const std::wstring& args) {
        static int s_nRun = 0;
        m_strOutput = TestDir() + L"update_server_out_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                      std::to_wstring(++s_nRun) + L".txt";
        SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
        ScopedKernelHandle out(CreateFileW(m_strOutput.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                           &sa, CREATE_ALWAYS, 0, nullptr));
        std::wstring cmd = L"\"" + TestDir() + L"..\\bin\\update-server.exe\" " + args;
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = out.Get();
        si.hStdError = out.Get();
        PROCESS_INFORMATION pi = {};
        bool bStarted = CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
        EXPECT_TRUE(bStarted) << "can't start update-server.exe, error " << GetLastError();
        if (bStarted) {
            m_process.Reset(pi.hProcess);
            ScopedKernelHandle thread(pi.hThread);
        }
    }
    ~CServerProcess() {
        if (m_process.IsValid() && WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT)
            TerminateProcess(m_process.Get(), 99);
        if (m_process.IsValid()) WaitForSingleObject(m_process.Get(), 5000);
        DeleteFileW(m_strOutput.c_str());
    }

    // The port from the "serving" line, or 0 if it doesn't come.
    int WaitForPort() {
        const std::string marker = " on http://127.0.0.1:";
        for (int nTry = 0; nTry < 600; ++nTry) {
            std::string out = Output();
            size_t at = out.find(marker);
            if (at != std::string::npos && out.find("/\n", at) != std::string::npos)
                return atoi(out.c_str() + at + marker.size());
            if (Wait(50) != -1) break;
        }
        ADD_FAILURE() << "no serving line: " << Output();
        return 0;
    }
    // The exit status, or -1 if it still runs after the wait.
    int Wait(DWORD nMs) {
        if (!m_process.IsValid() || WaitForSingleObject(m_process.Get(), nMs) != WAIT_OBJECT_0) return -1;
        DWORD nCode = 0;
        GetExitCodeProcess(m_process.Get(), &nCode);
        return static_cast<int>(nCode);
    }
    std::string Output() const { return ReadFileBytes(m_strOutput); }
    bool WaitForOutput(const std::string& part) {
        for (int nTry = 0; nTry < 100; ++nTry) {
            if (Contains(Output(), part)) return true;
            Sleep(50);
        }
        return false;
    }

private:
    ScopedKernelHandle m_process;
    std::wstring m_strOutput;
};

ScopedSocket ConnectTo(int nPort) {
    ScopedSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<u_short>(nPort));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(s.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    DWORD nTimeoutMs = 20000;
    setsockopt(s.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&nTimeoutMs), sizeof nTimeoutMs);
    return s;
}

struct Response {
    int nStatus = 0;
    std::string strHead;
    std::string strBody;
    bool Has(const std::string& field) const { return Contains(strHead, "\r\n" + field + "\r\n"); }
    std::string Header(const std::string& name) const {
        size_t at = strHead.find("\r\n" + name + ": ");
        if (at == std::string::npos) return std::string();
        at += name.size() + 4;
        return strHead.substr(at, strHead.find("\r\n", at) - at);
    }
};

// One server for the suite: a root with a few files, and a secret beside the root.
class UpdateServerProgram : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        s_dir = std::wstring(temp) + L"update-server-test-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(s_dir.c_str(), nullptr);
        CreateDirectoryW((s_dir + L"\\root").c_str(), nullptr);
        CreateDirectoryW((s_dir + L"\\root\\sub").c_str(), nullptr);
        WriteFileBytes(s_dir + L"\\secret.txt", kSecret);
        WriteFileBytes(s_dir + L"\\root\\plain.bin", Pattern(1000, 1));
        WriteFileBytes(s_dir + L"\\root\\sub\\with space.txt", "list\r\n");
        WriteFileBytes(s_dir + L"\\root\\empty.bin", "");
        WriteFileBytes(s_dir + L"\\root\\big.bin", Pattern(16 << 20, 3));
        s_server = new CServerProcess(L"--root \"" + s_dir + L"\\root\"");
        s_nPort = s_server->WaitForPort();
    }
    static void TearDownTestSuite() {
        delete s_server;
        for (const wchar_t* name : {L"\\root\\plain.bin", L"\\root\\sub\\with space.txt", L"\\root\\empty.bin",
                                    L"\\root\\big.bin", L"\\root\\huge.bin", L"\\secret.txt"})
            DeleteFileW((s_dir + name).c_str());
        RemoveDirectoryW((s_dir + L"\\root\\sub").c_str());
        RemoveDirectoryW((s_dir + L"\\root").c_str());
        RemoveDirectoryW(s_dir.c_str());
        WSACleanup();
    }
    void SetUp() override { ASSERT_NE(s_nPort, 0); }

    static ScopedSocket Connect() {
        ScopedSocket s = ConnectTo(s_nPort);
        Unread().erase(s.Get());  // nothing left from an earlier socket of the same number
        return s;
    }
    static void Send(SOCKET s, const std::string& bytes) {
        ASSERT_EQ(send(s, bytes.data(), static_cast<int>(bytes.size()), 0), static_cast<int>(bytes.size()));
    }
    // One response, its body as long as Content-Length says (none for HEAD). Pipelined
    // answers may arrive in one piece: what follows the body waits for the next Read.
    static Response Read(SOCKET s, bool bHead = false) {
        Response response;
        std::string bytes;
        std::swap(bytes, Unread()[s]);
        char buf[65536];
        size_t nHeadEnd;
        while ((nHeadEnd = bytes.find("\r\n\r\n")) == std::string::npos) {
            int n = recv(s, buf, sizeof buf, 0);
            if (n <= 0) return response;
            bytes.append(buf, n);
        }
        response.strHead = bytes.substr(0, nHeadEnd + 2);
        response.nStatus = atoi(response.strHead.c_str() + 9);
        size_t at = response.strHead.find("\r\nContent-Length: ");
        size_t nLength = bHead || at == std::string::npos ? 0 : strtoull(response.strHead.c_str() + at + 18, nullptr, 10);
        response.strBody = bytes.substr(nHeadEnd + 4);
        while (response.strBody.size() < nLength) {
            int n = recv(s, buf, sizeof buf, 0);
            if (n <= 0) break;
            response.strBody.append(buf, n);
        }
        if (response.strBody.size() > nLength) {
            Unread()[s] = response.strBody.substr(nLength);
            response.strBody.resize(nLength);
        }
        EXPECT_EQ(response.strBody.size(), nLength) << response.strHead;
        return response;
    }
    static std::map<SOCKET, std::string>& Unread() {
        static std::map<SOCKET, std::string> bytes;
        return bytes;
    }
    // A request on a fresh connection.
    static Response Ask(const std::string& request, bool bHead = false) {
        ScopedSocket s = Connect();
        Send(s.Get(), request);
        return Read(s.Get(), bHead);
    }
    static bool ClosedByServer(SOCKET s) {
        char c;
        return recv(s, &c, 1, 0) == 0;
    }

    static constexpr const char* kSecret = "the secret beside the root";
    static std::wstring s_dir;
    static CServerProcess* s_server;
    static int s_nPort;
};

std::wstring UpdateServerProgram::s_dir;
CServerProcess* UpdateServerProgram::s_server = nullptr;
int UpdateServerProgram::s_nPort = 0;

// Status and body the way the updater fetches: WinINet, optionally HTTP/1.0 with its Range line.
Response WinInetGet(int nPort, const char* path, const char* version = nullptr, const char* extra = nullptr) {
    Response response;
    ScopedInternetHandle session(InternetOpenA("update-server-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    ScopedInternetHandle connection(InternetConnectA(session.Get(), "127.0.0.1", static_cast<INTERNET_PORT>(nPort),
                                                     nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    ScopedInternetHandle request(HttpOpenRequestA(connection.Get(), "GET", path, version, nullptr, nullptr,
                                                  INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    if (!request.IsValid()) return response;
    if (extra) HttpAddRequestHeadersA(request.Get(), extra, static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD);
    if (!HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0)) return response;
    DWORD nStatus = 0;
    DWORD nSize = sizeof nStatus;
    HttpQueryInfoA(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &nStatus, &nSize, nullptr);
    response.nStatus = static_cast<int>(nStatus);
    char buf[65536];
    DWORD nRead = 0;
    while (InternetReadFile(request.Get(), buf, sizeof buf, &nRead) && nRead > 0) response.strBody.append(buf, nRead);
    return response;
}

TEST_F(UpdateServerProgram, WholeFilesAndHead) {
    Response got = WinInetGet(s_nPort, "/plain.bin");
    EXPECT_EQ(got.nStatus, 200);
    EXPECT_EQ(got.strBody, Pattern(1000, 1));
    got = WinInetGet(s_nPort, "/sub/with%20space.txt?x=1");
    EXPECT_EQ(got.nStatus, 200);
    EXPECT_EQ(got.strBody, "list\r\n");
    got = WinInetGet(s_nPort, "/big.bin");
    EXPECT_EQ(got.nStatus, 200);
    EXPECT_TRUE(got.strBody == Pattern(16 << 20, 3)) << "16 MiB differ, size " << got.strBody.size();

    got = Ask("GET /sub/with%20space.txt HTTP/1.1\r\nHost: h\r\n\r\n");
    EXPECT_TRUE(got.Has("Content-Type: text/plain")) << got.strHead;
    EXPECT_TRUE(got.Has("Accept-Ranges: bytes")) << got.strHead;
    EXPECT_TRUE(got.Has("Content-Length: 6")) << got.strHead;

    ScopedSocket s = Connect();
    Send(s.Get(), "HEAD /plain.bin HTTP/1.1\r\nHost: h\r\nConnection: close\r\n\r\n");
    got = Read(s.Get(), true);
    EXPECT_EQ(got.nStatus, 200);
    EXPECT_TRUE(got.Has("Content-Length: 1000")) << got.strHead;
    EXPECT_TRUE(got.Has("Content-Type: application/octet-stream")) << got.strHead;
    EXPECT_TRUE(got.Has("Connection: close")) << got.strHead;
    EXPECT_EQ(got.strBody, "") << "HEAD has no body";
    EXPECT_TRUE(ClosedByServer(s.Get()));
}

TEST_F(UpdateServerProgram, Ranges) {
    const std::string plain = Pattern(1000, 1);
    Response got = Ask("GET /plain.bin HTTP/1.1\r\nHost: h\r\nRange: bytes=300-\r\n\r\n");
    EXPECT_EQ(got.nStatus, 206);
    EXPECT_TRUE(got.Has("Content-Range: bytes 300-999/1000")) << got.strHead;
    EXPECT_EQ(got.strBody, plain.substr(300));

    got = Ask("GET /plain.bin HTTP/1.1\r\nHost: h\r\nRange: bytes=2-5\r\n\r\n");
    EXPECT_EQ(got.nStatus, 206);
    EXPECT_TRUE(got.Has("Content-Range: bytes 2-5/1000")) << got.strHead;
    EXPECT_EQ(got.strBody, plain.substr(2, 4));

    got = Ask("HEAD /plain.bin HTTP/1.1\r\nHost: h\r\nRange: bytes=990-\r\n\r\n", true);
    EXPECT_EQ(got.nStatus, 206);
    EXPECT_TRUE(got.Has("Content-Length: 10")) << got.strHead;

    for (const char* request : {"GET /plain.bin HTTP/1.1\r\nRange: bytes=1000-\r\n\r\n",
                                "GET /empty.bin HTTP/1.1\r\nRange: bytes=0-\r\n\r\n"}) {
        got = Ask(request);
        EXPECT_EQ(got.nStatus, 416) << request;
        EXPECT_TRUE(got.Has("Content-Length: 0")) << got.strHead;
        EXPECT_TRUE(Contains(got.strHead, "Content-Range: bytes */")) << got.strHead;
    }

    got = Ask("GET /plain.bin HTTP/1.1\r\nRange: bytes=5-2\r\n\r\n");
    EXPECT_EQ(got.nStatus, 200) << "a malformed range is ignored";
    EXPECT_EQ(got.strBody, plain);

    // Validators, and If-Range: the same version resumes, any other comes whole.
    const std::string etag = got.Header("ETag");
    ASSERT_EQ(etag.size() > 2 ? etag.front() : ' ', '"') << got.strHead;
    const std::string modified = got.Header("Last-Modified");
    EXPECT_TRUE(Contains(modified, " GMT")) << got.strHead;
    for (const std::string& validator : {etag, modified}) {
        got = Ask("GET /plain.bin HTTP/1.1\r\nRange: bytes=300-\r\nIf-Range: " + validator + "\r\n\r\n");
        EXPECT_EQ(got.nStatus, 206) << validator;
    }
    got = Ask("GET /plain.bin HTTP/1.1\r\nRange: bytes=300-\r\nIf-Range: \"other\"\r\n\r\n");
    EXPECT_EQ(got.nStatus, 200);
    EXPECT_EQ(got.strBody, plain);

    // The updater's resumed download: HTTP/1.0 and a Range line without a blank.
    got = WinInetGet(s_nPort, "/plain.bin", "HTTP/1.0", "Range:bytes=300-\r\n");
    EXPECT_EQ(got.nStatus, 206);
    EXPECT_EQ(got.strBody, plain.substr(300));
    ScopedSocket s = Connect();
    Send(s.Get(), "GET /plain.bin HTTP/1.0\r\nRange:bytes=300-\r\n\r\n");
    got = Read(s.Get());
    EXPECT_EQ(got.nStatus, 206);
    EXPECT_EQ(got.strBody, plain.substr(300));
    EXPECT_TRUE(ClosedByServer(s.Get())) << "HTTP/1.0 closes after the response";
}

TEST_F(UpdateServerProgram, BeyondFourGibibytes) {
    const std::wstring path = s_dir + L"\\root\\huge.bin";
    const uint64_t nMark = (5ull << 30) + 7;
    {
        ScopedKernelHandle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(h.IsValid());
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(nMark);
        ASSERT_TRUE(SetFilePointerEx(h.Get(), at, nullptr, FILE_BEGIN));  // sparse up to here
        DWORD n = 0;
        ASSERT_TRUE(WriteFile(h.Get(), "MARK", 4, &n, nullptr));
    }
    const std::string size = std::to_string(nMark + 4);
    Response got = Ask("GET /huge.bin HTTP/1.1\r\nRange: bytes=" + std::to_string(nMark - 2) + "-\r\n\r\n");
    EXPECT_EQ(got.nStatus, 206);
    EXPECT_TRUE(got.Has("Content-Range: bytes " + std::to_string(nMark - 2) + "-" + std::to_string(nMark + 3) + "/" +
                        size))
        << got.strHead;
    EXPECT_EQ(got.strBody, std::string(2, '\0') + "MARK");
    got = Ask("HEAD /huge.bin HTTP/1.1\r\n\r\n", true);
    EXPECT_TRUE(got.Has("Content-Length: " + size)) << got.strHead;
    got = Ask("GET /huge.bin HTTP/1.1\r\nRange: bytes=" + size + "-\r\n\r\n");
    EXPECT_EQ(got.nStatus, 416);
    EXPECT_TRUE(got.Has("Content-Range: bytes */" + size)) << got.strHead;
    DeleteFileW(path.c_str());
}

TEST_F(UpdateServerProgram, NothingOutsideTheRoot) {
    Response got = Ask("GET /missing.bin HTTP/1.1\r\n\r\n");
    EXPECT_EQ(got.nStatus, 404);
    EXPECT_TRUE(Contains(got.strBody, "404 Not Found")) << got.strBody;
    EXPECT_EQ(Ask("GET /sub HTTP/1.1\r\n\r\n").nStatus, 404) << "no folder listings";
    EXPECT_EQ(Ask("GET / HTTP/1.1\r\n\r\n").nStatus, 404);

    // The secret's own path, with forward slashes, as a drive-letter target.
    std::string secretPath = "/";
    for (wchar_t c : s_dir + L"\\secret.txt") secretPath += c == L'\\' ? '/' : static_cast<char>(c);
    const std::string targets[] = {"/../secret.txt",  "/%2e%2e/secret.txt",  "/..%5csecret.txt",
                                   "/..%2fsecret.txt", "/sub/../../secret.txt", "/sub/%2E%2E/%2E%2E/secret.txt",
                                   secretPath,        "/C:/secret.txt",       "http://h/../secret.txt",
                                   "/.../secret.txt", "/..\\secret.txt",      "/secret.txt%00"};
    for (const std::string& target : targets) {
        got = Ask("GET " + target + " HTTP/1.1\r\n\r\n");
        EXPECT_TRUE(got.nStatus == 400 || got.nStatus == 404) << target << " gave " << got.nStatus;
        EXPECT_FALSE(Contains(got.strBody, kSecret)) << target;
    }
}

TEST_F(UpdateServerProgram, ConnectionsLiveAsHttpSays) {
    ScopedSocket s = Connect();
    Send(s.Get(), "GET /plain.bin HTTP/1.1\r\nHost: h\r\n\r\n");
    Response first = Read(s.Get());
    EXPECT_TRUE(first.Has("Connection: keep-alive")) << first.strHead;
    Send(s.Get(), "GET /missing HTTP/1.1\r\nHost: h\r\n\r\nGET /plain.bin HTTP/1.1\r\nRange: bytes=0-0\r\n"
                  "Connection: close\r\n\r\n");
    EXPECT_EQ(Read(s.Get()).nStatus, 404) << "an error page keeps the connection";
    Response last = Read(s.Get());
    EXPECT_EQ(last.nStatus, 206);
    EXPECT_EQ(last.strBody, Pattern(1, 1));
    EXPECT_TRUE(ClosedByServer(s.Get()));

    struct Refusal {
        const char* request;
        int nStatus;
    } refusals[] = {{"POST /plain.bin HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", 405},
                    {"BREW /plain.bin HTTP/1.1\r\n\r\n", 501},
                    {"GET /plain.bin HTTP/1.1\r\nContent-Length: many\r\n\r\n", 400}};
    for (const Refusal& r : refusals) {
        ScopedSocket t = Connect();
        Send(t.Get(), r.request);
        Response got = Read(t.Get());
        EXPECT_EQ(got.nStatus, r.nStatus) << r.request;
        if (r.nStatus == 405) {
            EXPECT_TRUE(got.Has("Allow: GET, HEAD")) << got.strHead;
        }
        EXPECT_TRUE(ClosedByServer(t.Get())) << r.request;
    }
    ScopedSocket t = Connect();
    Send(t.Get(), "GET /" + std::string(20000, 'a') + " HTTP/1.1\r\n\r\n");
    EXPECT_EQ(Read(t.Get()).nStatus, 431);
}

TEST_F(UpdateServerProgram, ClientsLeavingEarlyDontHurt) {
    for (int i = 0; i < 3; ++i) {
        ScopedSocket s = Connect();
        Send(s.Get(), "GET /big.bin HTTP/1.1\r\n\r\n");
        char head[512];
        EXPECT_GT(recv(s.Get(), head, sizeof head, 0), 0);
        // Leave with the rest unread, as the updater does after reading a size.
    }
    ScopedSocket silent = Connect();  // connects and says nothing
    ScopedSocket half = Connect();
    Send(half.Get(), "GET /plain.bin HTTP/1.1\r\nHo");
    half.Close();
    Response got = WinInetGet(s_nPort, "/plain.bin");
    EXPECT_EQ(got.nStatus, 200);
    EXPECT_EQ(got.strBody, Pattern(1000, 1));

    // The request lines; the early leavers' lines come once their sends fail.
    EXPECT_TRUE(s_server->WaitForOutput(" of 16777216 (connection ended early)\n")) << s_server->Output();
    EXPECT_TRUE(s_server->WaitForOutput("GET /plain.bin 206 bytes=300- -> 700 bytes\n")) << s_server->Output();
    EXPECT_TRUE(s_server->WaitForOutput("GET /../secret.txt 400 -> ")) << s_server->Output();
}

TEST(UpdateServerRun, StopsAndRefusesBadSetups) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    // No trailing backslash: "...\" would escape the closing quote on the command line.
    const std::wstring dir = std::wstring(temp) + L"update-server-run-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir.c_str(), nullptr);
    WriteFileBytes(dir + L"\\big.bin", std::string(64 << 20, 'b'));
    {
        CServerProcess server(L"--root \"" + dir + L"\" --quiet --exit-after-seconds 2");
        const int nPort = server.WaitForPort();
        ScopedSocket idle = ConnectTo(nPort);
        ScopedSocket stalled = ConnectTo(nPort);  // asks for 64 MiB and reads none of it
        send(stalled.Get(), "GET /big.bin HTTP/1.1\r\n\r\n", 25, 0);
        EXPECT_EQ(server.Wait(15000), 0) << "idle and stalled clients must not keep it running: "
                                         << server.Output();
        EXPECT_TRUE(Contains(server.Output(), "update-server: stopped")) << server.Output();
        char c;
        EXPECT_EQ(recv(idle.Get(), &c, 1, 0), 0) << "the idle connection was closed";

        CServerProcess again(L"--root \"" + dir + L"\" --port " + std::to_wstring(nPort));
        EXPECT_EQ(again.WaitForPort(), nPort) << "the port is free again";
        CServerProcess second(L"--root \"" + dir + L"\" --port " + std::to_wstring(nPort));
        EXPECT_EQ(second.Wait(15000), kExitError);
        EXPECT_TRUE(Contains(second.Output(), "bind to 127.0.0.1:" + std::to_string(nPort) + " failed"))
            << second.Output();
    }
    {
        CServerProcess server(L"--root \"" + dir + L"\\no such folder\"");
        EXPECT_EQ(server.Wait(15000), kExitError);
        EXPECT_TRUE(Contains(server.Output(), "no such folder\" is not a folder")) << server.Output();
    }
    {
        CServerProcess server(L"--port 80");
        EXPECT_EQ(server.Wait(15000), kExitError);
        EXPECT_TRUE(Contains(server.Output(), "update-server: error: --root DIR is required")) << server.Output();
    }
    DeleteFileW((dir + L"\\big.bin").c_str());
    RemoveDirectoryW(dir.c_str());
    WSACleanup();
}

}  // namespace
