#include "components/unzip/entry_name.h"

#include <windows.h>

#include "components/unzip/Unzip.h"

namespace unzip {
namespace {

bool IsSeparator(wchar_t c) { return c == L'/' || c == L'\\'; }

bool IsForbiddenChar(wchar_t c) {
    return c < 0x20 || c == 0x7F || c == L':' || c == L'*' || c == L'?' || c == L'"' ||
           c == L'<' || c == L'>' || c == L'|';
}

bool EqualsNoCase(const std::wstring& a, const wchar_t* b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b, -1, TRUE) == CSTR_EQUAL;
}

// Windows opens the device instead of a file for these names, with or without an extension.
bool IsDeviceName(const std::wstring& part) {
    std::wstring base = part.substr(0, part.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* device : kDevices)
        if (EqualsNoCase(base, device)) return true;
    if (base.size() == 4 && (EqualsNoCase(base.substr(0, 3), L"COM") || EqualsNoCase(base.substr(0, 3), L"LPT"))) {
        wchar_t n = base[3];
        return (n >= L'1' && n <= L'9') || n == L'\u00B9' || n == L'\u00B2' || n == L'\u00B3';
    }
    return false;
}

bool IsSafePart(const std::wstring& part) {
    if (part == L"..") return false;
    for (wchar_t c : part)
        if (IsForbiddenChar(c)) return false;
    return part.back() != L'.' && part.back() != L' ' && !IsDeviceName(part);
}

}  // namespace

bool DecodeText(const std::string& bytes, unsigned codePage, std::wstring& text) {
    text.clear();
    if (bytes.empty()) return true;
    int nChars = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(),
                                     static_cast<int>(bytes.size()), nullptr, 0);
    if (nChars <= 0) return false;
    text.resize(static_cast<size_t>(nChars));
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                               &text[0], nChars) == nChars;
}

bool MakeSafeRelativePath(const std::wstring& name, std::wstring& path, bool& isDirectory) {
    path.clear();
    isDirectory = !name.empty() && IsSeparator(name.back());
    // A leading separator is absolute ("\abs") or UNC ("\\server\share").
    if (name.empty() || IsSeparator(name[0])) return false;
    size_t nStart = 0;
    while (nStart <= name.size()) {
        size_t nEnd = nStart;
        while (nEnd < name.size() && !IsSeparator(name[nEnd])) ++nEnd;
        std::wstring part = name.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        if (part.empty() || part == L".") continue;
        if (!IsSafePart(part)) return false;
        if (!path.empty()) path += L'\\';
        path += part;
    }
    return !path.empty();
}

int MakeEntryPath(const CZipEntry& entry, std::wstring& path, bool& isDirectory) {
    std::wstring name;
    bool bDecoded;
    if (entry.flags & kFlagUtf8)
        bDecoded = DecodeText(entry.rawName, CP_UTF8, name);
    else if (!entry.unicodePathExtra.empty())
        bDecoded = DecodeText(entry.unicodePathExtra, CP_UTF8, name);
    else
        bDecoded = DecodeText(entry.rawName, kGbkCodePage, name);
    if (!bDecoded || !MakeSafeRelativePath(name, path, isDirectory)) return UNZIP_E_UNSAFE_NAME;
    return UNZIP_OK;
}

}  // namespace unzip
