#include "update/profile_text.h"

#include <windows.h>

#include "framework/gbk_text.h"

namespace {
// The platform's integer reader sees at most this many characters of a value.
constexpr size_t kIntegerCapacity = 30;

bool IsBlank(wchar_t c) { return (c >= L'\t' && c <= L'\r') || c == L' ' || c == 0x1a; }

std::wstring Trim(const std::wstring& text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

// Names and values end at a NUL, as C strings do.
std::wstring UpToNul(const std::wstring& text) { return text.substr(0, text.find(L'\0')); }

std::wstring Fold(std::wstring name) {
    for (wchar_t& c : name) {
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    }
    return name;
}

// A byte-order mark makes the text Unicode; anything else is GBK.
std::wstring Decode(const std::string& bytes) {
    const size_t size = bytes.size();
    const auto byte = [&bytes](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (size >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
        int length = ::MultiByteToWideChar(CP_UTF8, 0, bytes.data() + 3, static_cast<int>(size - 3), nullptr, 0);
        std::wstring wide(static_cast<size_t>(length), L'\0');
        if (length > 0) {
            ::MultiByteToWideChar(CP_UTF8, 0, bytes.data() + 3, static_cast<int>(size - 3), &wide[0], length);
        }
        return wide;
    }
    const bool little = size >= 2 && byte(0) == 0xFF && byte(1) == 0xFE;
    const bool big = size >= 2 && byte(0) == 0xFE && byte(1) == 0xFF;
    if (little || big) {
        std::wstring wide;
        for (size_t i = 2; i + 1 < size; i += 2) {
            wide += static_cast<wchar_t>(little ? byte(i) | byte(i + 1) << 8 : byte(i) << 8 | byte(i + 1));
        }
        return wide;
    }
    return GbkToWide(bytes);
}

// What a buffer of `length` characters receives. One pair of matching quotes goes; when the
// value only just fits, the platform drops its last character as well.
std::wstring CopyEntry(const std::wstring& value, size_t length) {
    if (length == 0) return std::wstring();
    const bool quoted = value.size() >= 2 && (value[0] == L'"' || value[0] == L'\'') && value.back() == value[0];
    const std::wstring unquoted = quoted ? value.substr(1) : value;
    std::wstring copied = unquoted.substr(0, length - 1);
    if (quoted && length >= unquoted.size() && !copied.empty()) copied.pop_back();
    return copied;
}

// The longest run of whole GBK characters of `gbk` that leaves room for a NUL in `capacity`.
std::string CutToCapacity(const std::string& gbk, size_t capacity) {
    if (capacity == 0) return std::string();
    size_t end = 0;
    while (end < gbk.size()) {
        const unsigned char lead = static_cast<unsigned char>(gbk[end]);
        const size_t width = lead >= 0x81 && lead <= 0xFE && end + 1 < gbk.size() ? 2 : 1;
        if (end + width > capacity - 1) break;
        end += width;
    }
    return gbk.substr(0, end);
}

// Blanks and below, one sign, an optional 0b / 0o / 0x, then digits of that base; the
// arithmetic wraps.
int ParseInteger(const std::wstring& text) {
    size_t at = 0;
    while (at < text.size() && text[at] <= L' ') ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == L'+' || text[at] == L'-')) negative = text[at++] == L'-';
    unsigned base = 10;
    if (at + 1 < text.size() && text[at] == L'0') {
        const wchar_t prefix = text[at + 1];
        if (prefix == L'b') base = 2;
        if (prefix == L'o') base = 8;
        if (prefix == L'x') base = 16;
        if (base != 10) at += 2;
    }
    unsigned total = 0;
    for (; at < text.size(); ++at) {
        const wchar_t c = text[at];
        unsigned digit = 36;
        if (c >= L'0' && c <= L'9') digit = c - L'0';
        if (c >= L'A' && c <= L'Z') digit = c - L'A' + 10;
        if (c >= L'a' && c <= L'z') digit = c - L'a' + 10;
        if (digit >= base) break;
        total = total * base + digit;
    }
    return static_cast<int>(negative ? 0u - total : total);
}
}  // namespace

ProfileText::ProfileText(const std::string& bytes) {
    const std::wstring text = Decode(bytes);
    // Keys before the first header belong to a section without a name.
    m_sections.push_back(Section());
    m_firstSection.emplace(std::wstring(), 0);
    size_t next = 0;
    while (next < text.size()) {
        size_t start = next;
        while (next < text.size() && text[next] != L'\n' && text[next] != L'\r') ++next;
        size_t end = next;
        while (next < text.size() && (text[next] == L'\n' || text[next] == L'\r')) ++next;
        while (start < end && IsBlank(text[start])) ++start;
        while (end > start && IsBlank(text[end - 1])) --end;
        if (start == end) continue;
        if (text[start] == L'[') {
            // The name runs to the last ']' of the line; a line without one is a key line.
            const size_t close = text.rfind(L']', end - 1);
            if (close != std::wstring::npos && close > start) {
                Section section;
                section.name = UpToNul(Trim(text.substr(start + 1, close - start - 1)));
                m_firstSection.emplace(Fold(section.name), m_sections.size());
                m_sections.push_back(std::move(section));
                continue;
            }
        }
        const std::wstring line = text.substr(start, end - start);
        const size_t equals = line.find(L'=');
        Key key;
        key.name = UpToNul(Trim(line.substr(0, equals)));
        if (equals != std::wstring::npos) key.value = UpToNul(Trim(line.substr(equals + 1)));
        m_sections.back().keys.push_back(std::move(key));
    }
}

const std::wstring* ProfileText::Find(const std::string& section, const std::string& key) const {
    const auto found = m_firstSection.find(Fold(Trim(GbkToWide(section))));
    if (found == m_firstSection.end()) return nullptr;
    const std::wstring name = Fold(Trim(GbkToWide(key)));
    for (const Key& candidate : m_sections[found->second].keys) {
        if (Fold(candidate.name) == name) return &candidate.value;
    }
    return nullptr;
}

std::string ProfileText::ReadString(const std::string& section, const std::string& key, size_t capacity) const {
    const std::wstring* value = Find(section, key);
    if (value == nullptr) return std::string();
    return CutToCapacity(WideToGbk(CopyEntry(*value, capacity)), capacity);
}

int ProfileText::ReadInt(const std::string& section, const std::string& key, int missing) const {
    const std::wstring* value = Find(section, key);
    const std::wstring text = value != nullptr ? CopyEntry(*value, kIntegerCapacity) : std::wstring();
    return text.empty() ? missing : ParseInteger(text);
}
