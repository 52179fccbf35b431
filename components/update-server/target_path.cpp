#include "target_path.h"

#include <cctype>
#include <cwctype>

#include "text_bytes.h"

namespace updsrv {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool PercentDecode(const std::string& text, std::string& bytes) {
    bytes.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            bytes += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        int hi = HexValue(text[i + 1]);
        int lo = HexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return false;
        bytes += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    for (size_t i = 0; prefix[i]; ++i) {
        if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    }
    return true;
}

// Names Windows opens as devices whatever folder they are in, with or without an extension.
bool IsDeviceName(const std::wstring& segment) {
    std::wstring base = segment.substr(0, segment.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    for (wchar_t& c : base) c = static_cast<wchar_t>(std::towupper(c));
    static const wchar_t* const kNames[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* name : kNames) {
        if (base == name) return true;
    }
    if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0)) {
        wchar_t d = base[3];
        return (d >= L'0' && d <= L'9') || d == L'\x00B9' || d == L'\x00B2' || d == L'\x00B3';
    }
    return false;
}

bool CheckSegment(const std::wstring& segment, std::string& error) {
    if (segment == L"..") {
        error = "\"..\" is not allowed in the path";
        return false;
    }
    for (wchar_t c : segment) {
        if (c < 0x20 || c == 0x7F) {
            error = "control characters are not allowed in the path";
            return false;
        }
        if (c == L'\\' || c == L':' || c == L'*' || c == L'?' || c == L'"' || c == L'<' || c == L'>' ||
            c == L'|') {
            error = std::string("'") + static_cast<char>(c) + "' is not allowed in the path";
            return false;
        }
    }
    if (segment.back() == L'.' || segment.back() == L' ') {
        error = "a name in the path ends in '.' or ' '";
        return false;
    }
    if (IsDeviceName(segment)) {
        error = "device names are not allowed in the path";
        return false;
    }
    return true;
}

}  // namespace

bool TargetToRelativePath(const std::string& target, std::wstring& path, std::string& error) {
    path.clear();
    std::string rest = target;
    // The absolute form a proxy-minded client may send: drop the scheme and authority.
    for (const char* scheme : {"http://", "https://"}) {
        if (StartsWithNoCase(rest, scheme)) {
            size_t slash = rest.find('/', std::char_traits<char>::length(scheme));
            rest = slash == std::string::npos ? "/" : rest.substr(slash);
            break;
        }
    }
    if (rest.empty() || rest[0] != '/') {
        error = "the target must start with '/'";
        return false;
    }
    rest = rest.substr(0, rest.find_first_of("?#"));

    std::string bytes;
    if (!PercentDecode(rest, bytes)) {
        error = "malformed %-escape in the path";
        return false;
    }
    if (bytes.find('\0') != std::string::npos) {
        error = "NUL is not allowed in the path";
        return false;
    }
    // Checked after decoding to UTF-16: in GBK a '\' byte can be the second half of a character.
    const std::wstring wide = UrlBytesToWide(bytes);
    size_t start = 0;
    while (start <= wide.size()) {
        size_t end = wide.find(L'/', start);
        if (end == std::wstring::npos) end = wide.size();
        std::wstring segment = wide.substr(start, end - start);
        start = end + 1;
        if (segment.empty() || segment == L".") continue;
        if (!CheckSegment(segment, error)) {
            path.clear();
            return false;
        }
        if (!path.empty()) path += L'\\';
        path += segment;
    }
    return true;
}

}  // namespace updsrv
