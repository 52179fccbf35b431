#pragma once
// A scripted HTTP/1.1 server for tests: listens on 127.0.0.1 and serves each target the way the
// test scripted it, including the misbehaviour a download has to survive (ranges ignored or
// answered wrongly, no Content-Length, a connection dropped mid-body, slow bodies, error pages).
// Every request is logged, so a test can check exactly what the client sent.
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework/scoped_handle.h"

// Byte at position p of a generated body: lets a test serve a file larger than memory (above
// 4 GiB, say) and check downloaded bytes. Not periodic, so a slice from the wrong offset shows.
char PatternByte(uint64_t position);

// The bytes [first, first + length) of a generated body.
std::string PatternBytes(uint64_t first, size_t length);

enum class RangeMode {
    Honor,        // 206 with the asked slice, 416 past the end
    Ignore,       // 200 with the whole body
    WrongOffset,  // 206 whose Content-Range and body start 100 bytes after the asked offset
    WrongTotal,   // 206 with the right slice but a Content-Range total one more than the real size
    UnknownTotal, // 206 with the asked slice, its Content-Range total "*": the size is never told
    FromZeroOnly, // as Honor for a range from byte 0; a range from anywhere else gets 416
};

// How a request for several ranges ("bytes=0-9,20-29") is answered.
enum class MultiRangeMode {
    Whole,      // 200 with the whole body, as a server without multi-range support
    Multipart,  // 206 multipart/byteranges, one part per asked range
    FirstOnly,  // 206 with the first asked range alone, not multipart
    Malformed,  // 206 multipart/byteranges whose parts have no Content-Range
};

struct ServedFile {
    std::string body;              // the content, or:
    uint64_t patternSize = 0;      // when > 0: the body is PatternByte(0 .. patternSize-1), made on the fly
    bool sendContentLength = true; // false: no Content-Length; the body ends when the connection closes
    bool headSendsLength = false;  // with sendContentLength false: a HEAD still tells the size
    int headStatus = 0;            // non-zero: a HEAD gets this status and tells no size
    uint64_t headLength = 0;       // non-zero: a HEAD announces this size, whatever the body's
    RangeMode range = RangeMode::Honor;
    MultiRangeMode multiRange = MultiRangeMode::Whole;
    int fixedStatus = 0;           // non-zero: every request gets this status with the body as its page
    // For successive responses that carry a body: send only this many body bytes (while the
    // headers announce them all), then close the connection. Consumed in order; when empty,
    // responses are whole.
    std::vector<uint64_t> cutAfter;
    bool cutWithReset = false;     // close a cut connection abortively (RST) instead of gracefully
    bool cutWithStall = false;     // keep a cut connection open and silent until the server stops
    int delayMsPerChunk = 0;       // slow body: sleep this long before each 16 KiB chunk
    // Pause between the headers and the body. WinINet (Wine's at least) reads off the rest of
    // a body when a request handle is closed early, for as long as bytes keep arriving: a
    // pause makes it give up and close, as it would against a distant server.
    int delayMsBeforeBody = 0;
    std::string extraHeaders;      // added to every response as is; each line ends in "\r\n"
    // Validators sent with every answer from the file (HEAD, 200, 206, 416) when not empty. A
    // ranged request whose If-Range names neither gets the whole body (200).
    std::string etag;              // with its quotes: "\"v1\""
    std::string lastModified;
    uint64_t maxRangeLength = 0;   // non-zero: a 206 carries at most this many bytes (piecewise ranges)
    // Non-zero: a GET that comes while a body of this target is still being sent gets this
    // status (503, 429) instead, as a server allowing one connection per client.
    int busyStatus = 0;
    // Not empty: once `laterEtagAfter` bodies of this target were started, the file is another
    // version with this ETag (its bytes the same).
    std::string laterEtag;
    int laterEtagAfter = 0;
};

struct SeenRequest {
    std::string method, target, version;  // "GET", "/pkg/a.zip", "HTTP/1.0"
    std::string rawHead;                   // request line and headers as received, up to and including the blank line
    bool hasRange = false;
    std::string rangeValue;                // the Range header's value, trimmed: "bytes=300-"
};

// The value of the first header called `name` (any case) in a request or response head,
// trimmed; empty when there is none.
std::string FindHeader(const std::string& head, const std::string& name);

class TestHttpServer {
public:
    // Listens on 127.0.0.1 at a free port and serves on its own threads. Starts Winsock for itself.
    TestHttpServer();
    // Stops promptly, even with a slow body in flight or an idle client: closes every socket
    // and joins every thread.
    ~TestHttpServer();

    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    bool IsListening() const { return m_port != 0; }
    int Port() const { return m_port; }
    std::string Url(const std::string& target) const;  // "http://127.0.0.1:PORT" + target

    // Replaces any earlier script for `target` (the request target exactly, query included).
    void Serve(const std::string& target, ServedFile file);

    // Every request seen, in order. A request is logged before its response goes out.
    std::vector<SeenRequest> Requests() const;
    void ClearRequests();
    // How many responses with a body (not HEAD, not empty) were started for `target`,
    // 404 pages for unknown targets included.
    int BodyResponsesSent(const std::string& target) const;
    // Body bytes handed to the network for `target` so far, of every response.
    uint64_t BodyBytesSent(const std::string& target) const;
    // Connections accepted so far: shows whether a client reused a kept-alive connection.
    int ConnectionsAccepted() const { return m_connectionsAccepted; }
    // Responses whose body could not be sent whole because the client went away.
    int ClientAborts() const { return m_clientAborts; }
    // Requests answered with a ServedFile's busyStatus.
    int BusyAnswers() const { return m_busyAnswers; }

private:
    struct Script {
        std::shared_ptr<const ServedFile> file;
        std::deque<uint64_t> cuts;
    };
    struct Reply;
    struct Connection;

    void AcceptLoop();
    void ServeConnection(SOCKET socket);
    Reply Plan(const SeenRequest& request, bool keepAlive);
    std::string CurrentEtag(const std::string& target, const ServedFile& file);
    bool SendBody(SOCKET socket, const Reply& reply, bool* clientGone);

    ScopedSocket m_listener;
    ScopedKernelHandle m_stop;  // manual-reset event: set once, when the server stops
    int m_port = 0;
    std::thread m_acceptThread;
    std::atomic<int> m_connectionsAccepted{0};
    std::atomic<int> m_clientAborts{0};
    std::atomic<int> m_busyAnswers{0};

    mutable std::mutex m_mutex;  // guards the scripts, the log and the counts
    std::map<std::string, Script> m_scripts;
    std::vector<SeenRequest> m_requests;
    std::map<std::string, int> m_bodyResponses;
    std::map<std::string, uint64_t> m_bodyBytes;
    std::map<std::string, int> m_bodiesUnderWay;
};
