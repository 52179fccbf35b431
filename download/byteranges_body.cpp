#include "download/byteranges_body.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace {

// The headers of one body piece are a few short lines; more without their end is not a multipart body.
constexpr size_t kLongestHead = 16 * 1024;

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The Content-Range of a part's header lines; invalid when there is none.
ContentRange PartRange(const std::string& headers) {
    size_t line = 0;
    while (line < headers.size()) {
        size_t end = headers.find("\r\n", line);
        if (end == std::string::npos) end = headers.size();
        const size_t colon = headers.find(':', line);
        if (colon < end && Lower(Trim(headers.substr(line, colon - line))) == "content-range") {
            return ParseContentRange(Trim(headers.substr(colon + 1, end - colon - 1)));
        }
        line = end + 2;
    }
    return ContentRange();
}

}  // namespace

std::string ByterangesBoundary(const std::string& contentType) {
    const std::string lower = Lower(contentType);
    if (Trim(lower.substr(0, lower.find(';'))) != "multipart/byteranges") return std::string();
    const size_t key = lower.find("boundary=");
    if (key == std::string::npos) return std::string();
    std::string value = contentType.substr(key + 9);
    if (!value.empty() && value[0] == '"') {
        const size_t close = value.find('"', 1);
        return close == std::string::npos ? std::string() : value.substr(1, close - 1);
    }
    return Trim(value.substr(0, value.find(';')));
}

ByterangesBody::ByterangesBody(std::string boundary, std::function<bool(const ContentRange&)> part,
                               std::function<bool(const char*, size_t)> data)
    : m_delimiter("--" + boundary), m_part(std::move(part)), m_data(std::move(data)) {}

ByterangesBody::Result ByterangesBody::Feed(const char* bytes, size_t size) {
    std::string rest;  // what followed a part's headers in the gathered text
    for (;;) {
        if (m_state == State::End) return Result::End;
        if (m_state == State::Data) {
            if (size == 0) return Result::More;
            const size_t n = static_cast<size_t>(std::min<uint64_t>(size, m_left));
            if (!m_data(bytes, n)) return Result::Refused;
            bytes += n;
            size -= n;
            m_left -= n;
            if (m_left == 0) m_state = State::Delimiter;
            continue;
        }
        m_text.append(bytes, size);
        size_t used = 0;
        switch (ParseHead(&used)) {
            case Step::NeedMore: return m_text.size() > kLongestHead ? Result::Malformed : Result::More;
            case Step::Malformed: return Result::Malformed;
            case Step::Refused: return Result::Refused;
            case Step::Done: break;
        }
        rest.assign(m_text, used, std::string::npos);
        m_text.clear();
        bytes = rest.data();
        size = rest.size();
    }
}

// Reads a delimiter and, unless it is the closing one, the headers of the part after it.
ByterangesBody::Step ByterangesBody::ParseHead(size_t* used) {
    size_t at = 0;
    if (m_state == State::First) {
        // Whatever comes before the first delimiter (a preamble, often an empty line) is not a part.
        at = m_text.find(m_delimiter);
        if (at == std::string::npos) return Step::NeedMore;
    } else {
        // A part's bytes are followed by CRLF and the delimiter, nothing else.
        const std::string expected = "\r\n" + m_delimiter;
        if (m_text.size() < expected.size()) {
            return expected.compare(0, m_text.size(), m_text) == 0 ? Step::NeedMore : Step::Malformed;
        }
        if (m_text.compare(0, expected.size(), expected) != 0) return Step::Malformed;
        at = 2;
    }
    at += m_delimiter.size();
    if (m_text.size() < at + 2) return Step::NeedMore;
    if (m_text.compare(at, 2, "--") == 0) {
        m_state = State::End;
        *used = at + 2;
        return Step::Done;
    }
    const size_t headEnd = m_text.find("\r\n\r\n", at);
    if (headEnd == std::string::npos) return Step::NeedMore;
    const ContentRange range = PartRange(m_text.substr(at, headEnd - at));
    if (!range.valid || range.unsatisfied || range.last < range.first) return Step::Malformed;
    if (!m_part(range)) return Step::Refused;
    m_left = range.last - range.first + 1;
    m_state = State::Data;
    *used = headEnd + 4;
    return Step::Done;
}
