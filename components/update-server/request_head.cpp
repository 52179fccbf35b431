#include "request_head.h"

#include <cctype>

namespace updsrv {

namespace {

bool IsTokenChar(unsigned char c) {
    if (std::isalnum(c)) return true;
    for (const char* p = "!#$%&'*+-.^_`|~"; *p; ++p) {
        if (c == static_cast<unsigned char>(*p)) return true;
    }
    return false;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string TrimBlanks(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Lines without their CRLF or LF.
std::vector<std::string> SplitLines(const std::string& head) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < head.size()) {
        size_t end = head.find('\n', start);
        if (end == std::string::npos) end = head.size();
        size_t stop = end > start && head[end - 1] == '\r' ? end - 1 : end;
        lines.push_back(head.substr(start, stop - start));
        start = end + 1;
    }
    return lines;
}

// Does a comma-separated field value list this token (case-insensitive)?
bool ListHasToken(const std::string& value, const char* token) {
    size_t start = 0;
    while (start <= value.size()) {
        size_t end = value.find(',', start);
        if (end == std::string::npos) end = value.size();
        if (Lower(TrimBlanks(value.substr(start, end - start))) == token) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

const std::string* RequestHead::Find(const char* lowerName) const {
    for (const auto& field : vecFields) {
        if (field.first == lowerName) return &field.second;
    }
    return nullptr;
}

int RequestHead::Count(const char* lowerName) const {
    int n = 0;
    for (const auto& field : vecFields) n += field.first == lowerName ? 1 : 0;
    return n;
}

size_t FindHeadEnd(const std::string& buffer) {
    size_t start = 0;
    // Empty lines before the request line are tolerated (a client's stray CRLF after a body).
    while (start < buffer.size() && (buffer[start] == '\r' || buffer[start] == '\n')) ++start;
    size_t pos = start;
    while ((pos = buffer.find('\n', pos)) != std::string::npos) {
        size_t next = pos + 1;
        if (next < buffer.size() && buffer[next] == '\n') return next + 1;
        if (next + 1 < buffer.size() && buffer[next] == '\r' && buffer[next + 1] == '\n') return next + 2;
        pos = next;
    }
    return std::string::npos;
}

int ParseRequestHead(const std::string& head, RequestHead& request, std::string& error) {
    request = RequestHead();
    std::vector<std::string> lines = SplitLines(head);
    size_t i = 0;
    while (i < lines.size() && lines[i].empty()) ++i;
    if (i == lines.size()) {
        error = "empty request";
        return 400;
    }

    const std::string& line = lines[i++];
    size_t sp1 = line.find(' ');
    size_t sp2 = sp1 == std::string::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp2 == std::string::npos || line.find(' ', sp2 + 1) != std::string::npos) {
        error = "the request line must be METHOD TARGET HTTP/1.x";
        return 400;
    }
    request.strMethod = line.substr(0, sp1);
    request.strTarget = line.substr(sp1 + 1, sp2 - sp1 - 1);
    const std::string version = line.substr(sp2 + 1);
    if (request.strMethod.empty() || request.strTarget.empty()) {
        error = "the request line must be METHOD TARGET HTTP/1.x";
        return 400;
    }
    for (unsigned char c : request.strMethod) {
        if (!IsTokenChar(c)) {
            error = "malformed method";
            return 400;
        }
    }
    for (unsigned char c : request.strTarget) {
        if (c <= 0x20 || c == 0x7F) {
            error = "control characters in the target";
            return 400;
        }
    }
    if (version.size() != 8 || version.compare(0, 5, "HTTP/") != 0 || !std::isdigit((unsigned char)version[5]) ||
        version[6] != '.' || !std::isdigit((unsigned char)version[7])) {
        error = "malformed HTTP version \"" + version + "\"";
        return 400;
    }
    if (version[5] != '1') {
        error = "only HTTP/1.0 and HTTP/1.1 are served";
        return 505;
    }
    request.nMinorVersion = version[7] - '0';

    for (; i < lines.size(); ++i) {
        const std::string& field = lines[i];
        if (field.empty()) break;
        if (field[0] == ' ' || field[0] == '\t') {
            error = "folded header lines are not accepted";
            return 400;
        }
        size_t colon = field.find(':');
        if (colon == std::string::npos || colon == 0) {
            error = "a header line has no name";
            return 400;
        }
        for (size_t k = 0; k < colon; ++k) {
            if (!IsTokenChar(static_cast<unsigned char>(field[k]))) {
                error = "malformed header name";
                return 400;
            }
        }
        request.vecFields.emplace_back(Lower(field.substr(0, colon)), TrimBlanks(field.substr(colon + 1)));
    }
    return 0;
}

bool WantsKeepAlive(const RequestHead& request) {
    if (request.nMinorVersion == 0) return false;
    for (const auto& field : request.vecFields) {
        if (field.first == "connection" && ListHasToken(field.second, "close")) return false;
    }
    return true;
}

bool ReadBodyLength(const RequestHead& request, bool& bHasBody, std::string& error) {
    bHasBody = request.Find("transfer-encoding") != nullptr;
    const std::string* length = request.Find("content-length");
    if (!length) return true;
    if (request.Count("content-length") > 1 || length->empty() || length->size() > 18 ||
        length->find_first_not_of("0123456789") != std::string::npos) {
        error = "malformed Content-Length";
        return false;
    }
    if (length->find_first_not_of('0') != std::string::npos) bHasBody = true;
    return true;
}

}  // namespace updsrv
