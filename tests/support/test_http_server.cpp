#include "tests/support/test_http_server.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <list>
#include <utility>

namespace {

constexpr size_t kChunk = 16 * 1024;
constexpr size_t kMaxHead = 64 * 1024;
// Every wait is cut into slices this long, so a stopping server is never held up by a socket.
constexpr int kPollMs = 20;
// A graceful close waits this long for the client to close first, so the client reads the
// whole response instead of a reset caused by unread bytes on our side.
constexpr ULONGLONG kDrainMs = 1000;

bool IsSet(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

// Waits until `socket` can be read (or written); false on stop, on a select error or when
// `timeoutMs` (negative: no limit) has passed.
bool WaitSocket(SOCKET socket, bool forWrite, HANDLE stop, int timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (IsSet(stop)) return false;
        fd_set set;
        FD_ZERO(&set);
        FD_SET(socket, &set);
        timeval slice = {0, kPollMs * 1000};
        int ready = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &slice);
        if (ready > 0) return true;
        if (ready < 0) return false;
        if (timeoutMs >= 0 && GetTickCount64() - start >= static_cast<ULONGLONG>(timeoutMs)) return false;
    }
}

// Sends all of `data` on a non-blocking socket. On failure `clientGone` tells a vanished
// client from a stopping server.
bool SendAll(SOCKET socket, const char* data, size_t length, HANDLE stop, bool* clientGone) {
    while (length > 0) {
        int sent = send(socket, data, static_cast<int>(std::min<size_t>(length, INT_MAX)), 0);
        if (sent > 0) {
            data += sent;
            length -= static_cast<size_t>(sent);
        } else if (sent == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
            if (!WaitSocket(socket, true, stop, -1)) {
                *clientGone = !IsSet(stop);
                return false;
            }
        } else {
            *clientGone = true;
            return false;
        }
    }
    return true;
}

// Reads one request head, keeping any bytes after it in `pending` for the next request on the
// connection. False when the client closes or errs, the head is absurdly long, or the server stops.
bool ReadHead(SOCKET socket, std::string& pending, std::string& head, HANDLE stop) {
    for (;;) {
        // A client may send an empty line between requests on a kept-alive connection.
        while (pending.compare(0, 2, "\r\n") == 0) pending.erase(0, 2);
        size_t end = pending.find("\r\n\r\n");
        if (end != std::string::npos) {
            head = pending.substr(0, end + 4);
            pending.erase(0, end + 4);
            return true;
        }
        if (pending.size() > kMaxHead || !WaitSocket(socket, false, stop, -1)) return false;
        char buffer[4096];
        int received = recv(socket, buffer, sizeof buffer, 0);
        if (received > 0) {
            pending.append(buffer, static_cast<size_t>(received));
        } else if (received == 0 || WSAGetLastError() != WSAEWOULDBLOCK) {
            return false;
        }
    }
}

// Half-closes, then lets the client close first (or gives up after a while).
void CloseGracefully(SOCKET socket, HANDLE stop) {
    shutdown(socket, SD_SEND);
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        ULONGLONG waited = GetTickCount64() - start;
        if (waited >= kDrainMs || !WaitSocket(socket, false, stop, static_cast<int>(kDrainMs - waited))) return;
        char buffer[4096];
        int received = recv(socket, buffer, sizeof buffer, 0);
        if (received == 0 || (received < 0 && WSAGetLastError() != WSAEWOULDBLOCK)) return;
    }
}

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

bool LookUpHeader(const std::string& head, const std::string& name, std::string* value) {
    size_t line = head.find("\r\n");  // skip the request or status line
    while (line != std::string::npos) {
        line += 2;
        size_t end = head.find("\r\n", line);
        if (end == std::string::npos || end == line) return false;
        size_t colon = head.find(':', line);
        if (colon < end && EqualsNoCase(Trim(head.substr(line, colon - line)), name)) {
            *value = Trim(head.substr(colon + 1, end - colon - 1));
            return true;
        }
        line = end;
    }
    return false;
}

bool HasToken(const std::string& list, const std::string& token) {
    size_t start = 0;
    for (;;) {
        size_t comma = list.find(',', start);
        if (EqualsNoCase(Trim(list.substr(start, comma - start)), token)) return true;
        if (comma == std::string::npos) return false;
        start = comma + 1;
    }
}

bool ParseNumber(const std::string& text, size_t* position, uint64_t* value) {
    const size_t start = *position;
    uint64_t result = 0;
    while (*position < text.size() && std::isdigit(static_cast<unsigned char>(text[*position]))) {
        unsigned digit = static_cast<unsigned>(text[*position] - '0');
        if (result > (UINT64_MAX - digit) / 10) return false;
        result = result * 10 + digit;
        ++*position;
    }
    *value = result;
    return *position > start;
}

// "bytes=N-" or "bytes=N-M". Anything else (suffix or multiple ranges, junk) is ignored, as a
// server may do, and answered with the whole body.
bool ParseRange(const std::string& value, uint64_t* first, uint64_t* last, bool* hasLast) {
    if (value.size() < 6 || !EqualsNoCase(value.substr(0, 6), "bytes=")) return false;
    size_t position = 6;
    if (!ParseNumber(value, &position, first) || position >= value.size() || value[position] != '-') return false;
    ++position;
    *hasLast = position < value.size();
    return !*hasLast || (ParseNumber(value, &position, last) && position == value.size() && *last >= *first);
}

SeenRequest ParseRequest(const std::string& head) {
    SeenRequest request;
    request.rawHead = head;
    std::string line = head.substr(0, head.find("\r\n"));
    size_t space1 = line.find(' ');
    size_t space2 = space1 == std::string::npos ? std::string::npos : line.find(' ', space1 + 1);
    if (space2 != std::string::npos) {
        request.method = line.substr(0, space1);
        request.target = line.substr(space1 + 1, space2 - space1 - 1);
        request.version = line.substr(space2 + 1);
    }
    request.hasRange = LookUpHeader(head, "Range", &request.rangeValue);
    return request;
}

const char* Reason(int status) {
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 416: return "Range Not Satisfiable";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

std::shared_ptr<const ServedFile> ErrorPage(int status) {
    auto page = std::make_shared<ServedFile>();
    std::string title = std::to_string(status) + " " + Reason(status);
    page->body = "<html><head><title>" + title + "</title></head><body><h1>" + title + "</h1></body></html>";
    return page;
}

uint64_t ContentSize(const ServedFile& file) { return file.patternSize > 0 ? file.patternSize : file.body.size(); }

// "bytes=A-B,C-D,...", each with its last byte; lasts past the end are cut to it.
bool ParseRangeList(const std::string& value, uint64_t size, std::vector<std::pair<uint64_t, uint64_t>>* ranges) {
    if (value.size() < 6 || !EqualsNoCase(value.substr(0, 6), "bytes=")) return false;
    size_t position = 6;
    for (;;) {
        uint64_t first = 0, last = 0;
        if (!ParseNumber(value, &position, &first) || position >= value.size() || value[position++] != '-' ||
            !ParseNumber(value, &position, &last) || last < first || first >= size) {
            return false;
        }
        ranges->emplace_back(first, std::min(last, size - 1));
        if (position == value.size()) return true;
        if (value[position++] != ',') return false;
    }
}

std::string Slice(const ServedFile& file, uint64_t first, size_t length) {
    return file.patternSize > 0 ? PatternBytes(first, length) : file.body.substr(first, length);
}

constexpr char kBoundary[] = "00000000000000000042";

// The body of a multipart/byteranges answer, timed as `file` is; without Content-Range when malformed.
std::shared_ptr<const ServedFile> MultipartBody(const ServedFile& file,
                                                const std::vector<std::pair<uint64_t, uint64_t>>& ranges,
                                                bool malformed) {
    auto multipart = std::make_shared<ServedFile>();
    multipart->delayMsPerChunk = file.delayMsPerChunk;
    multipart->delayMsBeforeBody = file.delayMsBeforeBody;
    for (const auto& range : ranges) {
        multipart->body += std::string("\r\n--") + kBoundary + "\r\nContent-Type: application/octet-stream\r\n";
        if (!malformed) {
            multipart->body += "Content-Range: bytes " + std::to_string(range.first) + "-" +
                               std::to_string(range.second) + "/" + std::to_string(ContentSize(file)) + "\r\n";
        }
        multipart->body += "\r\n" + Slice(file, range.first, static_cast<size_t>(range.second - range.first + 1));
    }
    multipart->body += std::string("\r\n--") + kBoundary + "--\r\n";
    return multipart;
}

}  // namespace

char PatternByte(uint64_t position) {
    // A multiplicative hash: every bit of the position, the ones above 4 GiB included, moves the byte.
    uint64_t x = position * 0x9E3779B97F4A7C15ull;
    return static_cast<char>((x >> 56) ^ (x >> 27));
}

std::string PatternBytes(uint64_t first, size_t length) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) bytes[i] = PatternByte(first + i);
    return bytes;
}

std::string FindHeader(const std::string& head, const std::string& name) {
    std::string value;
    LookUpHeader(head, name, &value);
    return value;
}

struct TestHttpServer::Reply {
    std::string head;                           // status line and headers, blank line included
    std::shared_ptr<const ServedFile> content;  // where the body comes from
    uint64_t offset = 0;                        // the body is content bytes [offset, offset + length)
    uint64_t length = 0;
    bool cut = false;                           // send only cutAt body bytes, then close
    uint64_t cutAt = 0;
    bool cutWithReset = false;
    bool cutWithStall = false;
    bool closeAfter = false;
    std::string target;                         // what the bytes sent are counted for
    bool underWay = false;                      // counted in m_bodiesUnderWay until sent
};

struct TestHttpServer::Connection {
    std::thread thread;
    std::atomic<bool> done{false};
};

TestHttpServer::TestHttpServer() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    m_stop.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    m_listener.Reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    BOOL exclusive = TRUE;
    setsockopt(m_listener.Get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
               sizeof exclusive);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    u_long nonBlocking = 1;
    if (!m_stop.IsValid() || bind(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_listener.Get(), SOMAXCONN) != 0 || ioctlsocket(m_listener.Get(), FIONBIO, &nonBlocking) != 0) {
        m_listener.Close();
        return;
    }
    int length = sizeof address;
    getsockname(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
    if (m_stop.IsValid()) SetEvent(m_stop.Get());
    if (m_acceptThread.joinable()) m_acceptThread.join();
    m_listener.Close();
    WSACleanup();
}

std::string TestHttpServer::Url(const std::string& target) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + target;
}

void TestHttpServer::Serve(const std::string& target, ServedFile file) {
    Script script;
    script.cuts.assign(file.cutAfter.begin(), file.cutAfter.end());
    script.file = std::make_shared<const ServedFile>(std::move(file));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_scripts[target] = std::move(script);
}

std::vector<SeenRequest> TestHttpServer::Requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void TestHttpServer::ClearRequests() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
}

int TestHttpServer::BodyResponsesSent(const std::string& target) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_bodyResponses.find(target);
    return found == m_bodyResponses.end() ? 0 : found->second;
}

uint64_t TestHttpServer::BodyBytesSent(const std::string& target) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_bodyBytes.find(target);
    return found == m_bodyBytes.end() ? 0 : found->second;
}

// One thread per connection; finished ones are joined as new ones arrive, the rest at stop.
void TestHttpServer::AcceptLoop() {
    std::list<std::unique_ptr<Connection>> connections;
    while (WaitSocket(m_listener.Get(), false, m_stop.Get(), -1)) {
        try {
            for (auto it = connections.begin(); it != connections.end();) {
                if ((*it)->done) {
                    (*it)->thread.join();
                    it = connections.erase(it);
                } else {
                    ++it;
                }
            }
            ScopedSocket accepted(accept(m_listener.Get(), nullptr, nullptr));
            if (!accepted.IsValid()) continue;
            ++m_connectionsAccepted;
            auto connection = std::make_unique<Connection>();
            Connection* raw = connection.get();
            connections.push_back(std::move(connection));
            raw->thread = std::thread([this, raw, socket = std::move(accepted)]() mutable {
                try {
                    ServeConnection(socket.Get());
                } catch (...) {
                }
                socket.Close();
                raw->done = true;
            });
        } catch (...) {
            // Out of threads or memory: this connection is dropped, the server goes on.
        }
    }
    for (auto& connection : connections) {
        if (connection->thread.joinable()) connection->thread.join();
    }
}

// Answers requests on one connection until the client closes, a response ends the
// connection, or the server stops. The caller closes the socket.
void TestHttpServer::ServeConnection(SOCKET socket) {
    u_long nonBlocking = 1;
    ioctlsocket(socket, FIONBIO, &nonBlocking);
    BOOL noDelay = TRUE;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    std::string pending;
    std::string head;
    while (ReadHead(socket, pending, head, m_stop.Get())) {
        SeenRequest request = ParseRequest(head);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(request);
        }
        bool keepAlive = request.version == "HTTP/1.1" && !HasToken(FindHeader(head, "Connection"), "close");
        Reply reply = Plan(request, keepAlive);
        bool clientGone = false;
        const bool sent = SendAll(socket, reply.head.data(), reply.head.size(), m_stop.Get(), &clientGone) &&
                          SendBody(socket, reply, &clientGone);
        if (reply.underWay) {
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_bodiesUnderWay[reply.target];
        }
        if (!sent) {
            if (clientGone) ++m_clientAborts;
            return;
        }
        if (reply.cut && reply.cutWithStall) {
            WaitForSingleObject(m_stop.Get(), INFINITE);
            return;
        }
        if (reply.cut && reply.cutWithReset) {
            linger abortive = {1, 0};
            setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive), sizeof abortive);
            return;
        }
        if (reply.cut || reply.closeAfter) {
            CloseGracefully(socket, m_stop.Get());
            return;
        }
    }
}

// Under the lock.
std::string TestHttpServer::CurrentEtag(const std::string& target, const ServedFile& file) {
    if (file.laterEtag.empty() || m_bodyResponses[target] < file.laterEtagAfter) return file.etag;
    return file.laterEtag;
}

TestHttpServer::Reply TestHttpServer::Plan(const SeenRequest& request, bool keepAlive) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Reply reply;
    reply.target = request.target;
    const bool headOnly = request.method == "HEAD";
    auto script = m_scripts.end();
    int status = 200;
    std::string contentType = "text/html";
    std::string contentRange;
    bool sendLength = true;
    if (request.method != "GET" && !headOnly) {
        status = request.method.empty() ? 400 : 501;
        reply.content = ErrorPage(status);
        reply.length = reply.content->body.size();
        reply.closeAfter = true;
    } else if ((script = m_scripts.find(request.target)) == m_scripts.end()) {
        status = 404;
        reply.content = ErrorPage(status);
        reply.length = reply.content->body.size();
    } else if (script->second.file->busyStatus != 0 && !headOnly && m_bodiesUnderWay[request.target] > 0) {
        status = script->second.file->busyStatus;
        reply.content = ErrorPage(status);
        reply.length = reply.content->body.size();
        reply.closeAfter = true;
        ++m_busyAnswers;
        script = m_scripts.end();
    } else {
        reply.content = script->second.file;
        const ServedFile& file = *reply.content;
        sendLength = file.sendContentLength || (headOnly && (file.headSendsLength || file.headLength != 0));
        reply.length = headOnly && file.headLength != 0 ? file.headLength : ContentSize(file);
        if (file.fixedStatus != 0) {
            status = file.fixedStatus;
        } else {
            contentType = "application/octet-stream";
            const uint64_t size = ContentSize(file);
            uint64_t first = 0, last = 0;
            bool hasLast = false;
            std::string ifRange;
            const std::string etag = CurrentEtag(request.target, file);
            const bool otherVersion = LookUpHeader(request.rawHead, "If-Range", &ifRange) &&
                                      (etag.empty() || ifRange != etag) &&
                                      (file.lastModified.empty() || ifRange != file.lastModified);
            std::vector<std::pair<uint64_t, uint64_t>> several;
            if (file.range != RangeMode::Ignore && request.hasRange && !otherVersion &&
                file.multiRange != MultiRangeMode::Whole && ParseRangeList(request.rangeValue, size, &several) &&
                several.size() > 1) {
                status = 206;
                if (file.multiRange == MultiRangeMode::FirstOnly) {
                    reply.offset = several[0].first;
                    reply.length = several[0].second - several[0].first + 1;
                    contentRange = "bytes " + std::to_string(several[0].first) + "-" +
                                   std::to_string(several[0].second) + "/" + std::to_string(size);
                } else {
                    contentType = std::string("multipart/byteranges; boundary=") + kBoundary;
                    reply.content = MultipartBody(file, several, file.multiRange == MultiRangeMode::Malformed);
                    reply.length = reply.content->body.size();
                }
            } else if (file.range != RangeMode::Ignore && request.hasRange && !otherVersion &&
                ParseRange(request.rangeValue, &first, &last, &hasLast)) {
                if (file.range == RangeMode::WrongOffset) {
                    first = first > UINT64_MAX - 100 ? UINT64_MAX : first + 100;
                    last = last > UINT64_MAX - 100 ? UINT64_MAX : last + 100;
                }
                if (first >= size || (file.range == RangeMode::FromZeroOnly && first > 0)) {
                    status = 416;
                    contentRange = "bytes */" + std::to_string(size);
                    reply.length = 0;
                } else {
                    last = hasLast ? std::min(last, size - 1) : size - 1;
                    if (file.maxRangeLength > 0) last = std::min(last, first + file.maxRangeLength - 1);
                    status = 206;
                    reply.offset = first;
                    reply.length = last - first + 1;
                    const uint64_t total = size + (file.range == RangeMode::WrongTotal ? 1 : 0);
                    contentRange = "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
                                   (file.range == RangeMode::UnknownTotal ? "*" : std::to_string(total));
                }
            }
        }
    }
    if (headOnly && script != m_scripts.end() && script->second.file->headStatus != 0) {
        status = script->second.file->headStatus;
        contentRange.clear();
        sendLength = false;
    }
    // Without a length, only the end of the connection ends the body.
    if (!sendLength && !headOnly) reply.closeAfter = true;
    if (!keepAlive) reply.closeAfter = true;

    reply.head = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
    reply.head += "Content-Type: " + contentType + "\r\n";
    if (sendLength) reply.head += "Content-Length: " + std::to_string(reply.length) + "\r\n";
    if (!contentRange.empty()) reply.head += "Content-Range: " + contentRange + "\r\n";
    if (script != m_scripts.end() && script->second.file->range != RangeMode::Ignore) {
        reply.head += "Accept-Ranges: bytes\r\n";
    }
    if (reply.closeAfter) reply.head += "Connection: close\r\n";
    if (script != m_scripts.end() && script->second.file->fixedStatus == 0) {
        const ServedFile& file = *script->second.file;
        const std::string etag = CurrentEtag(request.target, file);
        if (!etag.empty()) reply.head += "ETag: " + etag + "\r\n";
        if (!file.lastModified.empty()) reply.head += "Last-Modified: " + file.lastModified + "\r\n";
    }
    if (script != m_scripts.end()) reply.head += script->second.file->extraHeaders;
    reply.head += "\r\n";

    if (headOnly) reply.length = 0;
    if (reply.length > 0) {
        ++m_bodyResponses[request.target];
        if (script != m_scripts.end()) {
            reply.underWay = true;
            ++m_bodiesUnderWay[request.target];
        }
        if (script != m_scripts.end() && !script->second.cuts.empty()) {
            reply.cut = true;
            reply.cutAt = script->second.cuts.front();
            reply.cutWithReset = script->second.file->cutWithReset;
            reply.cutWithStall = script->second.file->cutWithStall;
            script->second.cuts.pop_front();
        }
    }
    return reply;
}

bool TestHttpServer::SendBody(SOCKET socket, const Reply& reply, bool* clientGone) {
    const ServedFile& file = *reply.content;
    uint64_t remaining = reply.cut ? std::min(reply.length, reply.cutAt) : reply.length;
    uint64_t position = reply.offset;
    std::string chunk;
    if (remaining > 0 && file.delayMsBeforeBody > 0 &&
        WaitForSingleObject(m_stop.Get(), file.delayMsBeforeBody) == WAIT_OBJECT_0) {
        return false;
    }
    while (remaining > 0) {
        if (file.delayMsPerChunk > 0 && WaitForSingleObject(m_stop.Get(), file.delayMsPerChunk) == WAIT_OBJECT_0) {
            return false;
        }
        const size_t size = static_cast<size_t>(std::min<uint64_t>(remaining, kChunk));
        const char* data;
        if (file.patternSize > 0) {
            chunk.resize(size);
            for (size_t i = 0; i < size; ++i) chunk[i] = PatternByte(position + i);
            data = chunk.data();
        } else {
            data = file.body.data() + position;
        }
        if (!SendAll(socket, data, size, m_stop.Get(), clientGone)) return false;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bodyBytes[reply.target] += size;
        }
        position += size;
        remaining -= size;
    }
    return true;
}
