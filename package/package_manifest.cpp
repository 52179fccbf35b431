#include "package/package_manifest.h"

#include <windows.h>

#include <limits>
#include <set>

#include "components/unzip/Unzip.h"
#include "components/unzip/entry_name.h"
#include "components/unzip/zip_directory.h"

namespace {

// A local header is at least this long before its name and extra field.
constexpr uint64_t kLocalHeaderSize = 30;

// Splits one line into the words the format expects; the last field takes the rest.
class LineReader {
public:
    explicit LineReader(const std::string& line) : m_line(line) {}

    // The next field up to a space (or the end when `last`).
    bool Word(std::string* word, bool last = false) {
        if (m_at > m_line.size()) return false;
        size_t end = last ? m_line.size() : m_line.find(' ', m_at);
        if (end == std::string::npos) end = m_line.size();
        *word = m_line.substr(m_at, end - m_at);
        m_at = end + 1;
        return true;
    }
    bool AtEnd() const { return m_at > m_line.size(); }

private:
    const std::string& m_line;
    size_t m_at = 0;
};

bool ParseDecimal(const std::string& text, uint64_t* value) {
    if (text.empty() || (text[0] == '0' && text.size() > 1)) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        unsigned digit = static_cast<unsigned>(c - '0');
        if (v > (std::numeric_limits<uint64_t>::max() - digit) / 10) return false;
        v = v * 10 + digit;
    }
    *value = v;
    return true;
}

bool ParseSmall(const std::string& text, uint16_t* value) {
    uint64_t v = 0;
    if (!ParseDecimal(text, &v) || v > 0xFFFF) return false;
    *value = static_cast<uint16_t>(v);
    return true;
}

bool ParseUnixTime(const std::string& text, ManifestEntry* entry) {
    entry->hasUnixTime = text != "-";
    if (!entry->hasUnixTime) return true;
    bool negative = !text.empty() && text[0] == '-';
    uint64_t magnitude = 0;
    if (!ParseDecimal(negative ? text.substr(1) : text, &magnitude)) return false;
    if (negative && magnitude == 0) return false;
    if (magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
    entry->unixTime = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

bool IsLowerHex(const std::string& text, size_t digits) {
    if (text.size() != digits) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

bool ParseCrc(const std::string& text, uint32_t* crc) {
    if (!IsLowerHex(text, 8)) return false;
    *crc = static_cast<uint32_t>(std::stoul(text, nullptr, 16));
    return true;
}

// The path as Windows compares names: case does not count.
std::wstring PathKey(std::wstring path) {
    if (!path.empty()) CharUpperBuffW(&path[0], static_cast<DWORD>(path.size()));
    return path;
}

bool ParseEntryLine(const std::string& line, ManifestEntry* e, std::string* why) {
    LineReader reader(line);
    std::string keyword, method, flags, date, time, unixTime, header, offset, length, size, crc;
    if (!reader.Word(&keyword) || keyword != "entry" || !reader.Word(&method) || !reader.Word(&flags) ||
        !reader.Word(&date) || !reader.Word(&time) || !reader.Word(&unixTime) || !reader.Word(&header) ||
        !reader.Word(&offset) || !reader.Word(&length) || !reader.Word(&size) || !reader.Word(&crc) ||
        !reader.Word(&e->sha256) || !reader.Word(&e->rawName, true)) {
        *why = "expected an entry line";
        return false;
    }
    if (!ParseSmall(method, &e->method) || !ParseSmall(flags, &e->flags) || !ParseSmall(date, &e->dosDate) ||
        !ParseSmall(time, &e->dosTime) || !ParseUnixTime(unixTime, e) || !ParseDecimal(header, &e->localHeaderOffset) ||
        !ParseDecimal(offset, &e->dataOffset) || !ParseDecimal(length, &e->dataLength) ||
        !ParseDecimal(size, &e->size)) {
        *why = "bad number";
        return false;
    }
    if (!ParseCrc(crc, &e->crc32) || !IsLowerHex(e->sha256, 64)) {
        *why = "bad hex digits";
        return false;
    }
    if (e->rawName.find('\0') != std::string::npos || e->rawName.find('\r') != std::string::npos) {
        *why = "bad name bytes";
        return false;
    }
    return true;
}

// What Unzip.dll would refuse, and sizes the stream could not be checked against.
bool CheckEntry(ManifestEntry* e, std::string* why) {
    if (e->method != unzip::kMethodStored && e->method != unzip::kMethodDeflate) {
        *why = "unsupported method " + std::to_string(e->method);
        return false;
    }
    if (e->flags & (unzip::kFlagEncrypted | unzip::kFlagStrongEncryption | unzip::kFlagMaskedDirectory)) {
        *why = "encrypted entry";
        return false;
    }
    if (e->method == unzip::kMethodStored && e->dataLength != e->size) {
        *why = "stored entry with two sizes";
        return false;
    }
    unzip::CZipEntry zipEntry;
    zipEntry.rawName = e->rawName;
    zipEntry.flags = e->flags;
    if (unzip::MakeEntryPath(zipEntry, e->relativePath, e->isDirectory) != UNZIP_OK) {
        *why = "unsafe name";
        return false;
    }
    if (e->isDirectory && e->size != 0) {
        *why = "directory with a size";
        return false;
    }
    if (e->dataOffset < e->localHeaderOffset || e->dataOffset - e->localHeaderOffset < kLocalHeaderSize ||
        e->dataLength > std::numeric_limits<uint64_t>::max() - e->dataOffset) {
        *why = "data offset before the entry's header ends";
        return false;
    }
    return true;
}

bool ParseLines(const std::string& bytes, PackageManifest* manifest, std::string* why) {
    if (bytes.size() > kManifestMaxBytes) {
        *why = "manifest too large";
        return false;
    }
    std::vector<std::string> lines;
    for (size_t at = 0; at < bytes.size();) {
        size_t end = bytes.find("\r\n", at);
        if (end == std::string::npos) {
            *why = "last line without CR LF";
            return false;
        }
        lines.push_back(bytes.substr(at, end - at));
        if (lines.back().find('\n') != std::string::npos) {
            *why = "line " + std::to_string(lines.size()) + ": bare LF";
            return false;
        }
        at = end + 2;
    }
    if (lines.size() < 3 || lines[0] != "zip-manifest 1") {
        *why = "not a zip manifest";
        return false;
    }
    LineReader zipLine(lines[1]);
    std::string keyword, size;
    if (!zipLine.Word(&keyword) || keyword != "zip" || !zipLine.Word(&size) ||
        !ParseDecimal(size, &manifest->zipSize) || !zipLine.Word(&manifest->zipSha256, true) ||
        !IsLowerHex(manifest->zipSha256, 64)) {
        *why = "line 2: bad zip line";
        return false;
    }
    LineReader endLine(lines.back());
    std::string count;
    uint64_t declared = 0;
    if (!endLine.Word(&keyword) || keyword != "end" || !endLine.Word(&count, true) || !ParseDecimal(count, &declared) ||
        declared != lines.size() - 3) {
        *why = "bad end line";
        return false;
    }
    for (size_t i = 2; i + 1 < lines.size(); ++i) {
        ManifestEntry entry;
        if (!ParseEntryLine(lines[i], &entry, why) || !CheckEntry(&entry, why)) {
            *why = "line " + std::to_string(i + 1) + ": " + *why;
            return false;
        }
        manifest->entries.push_back(std::move(entry));
    }
    return true;
}

// The entries lie one after another without sharing a byte, all inside the zip, and no two
// land on the same path.
bool CheckLayout(const PackageManifest& manifest, std::string* why) {
    const std::vector<ManifestEntry>& entries = manifest.entries;
    for (size_t i = 1; i < entries.size(); ++i) {
        if (entries[i].localHeaderOffset <= entries[i - 1].localHeaderOffset) {
            *why = "entry " + std::to_string(i + 1) + ": out of order";
            return false;
        }
    }
    std::set<std::wstring> paths;
    for (size_t i = 0; i < entries.size(); ++i) {
        const ManifestEntry& e = entries[i];
        bool last = i + 1 == entries.size();
        if (e.dataOffset + e.dataLength > (last ? manifest.zipSize : entries[i + 1].localHeaderOffset)) {
            *why = "entry " + std::to_string(i + 1) + (last ? ": beyond the zip's end" : ": overlaps the next entry");
            return false;
        }
        if (!paths.insert(PathKey(e.relativePath)).second) {
            *why = "entry " + std::to_string(i + 1) + ": duplicate path";
            return false;
        }
    }
    return true;
}

}  // namespace

bool ParsePackageManifest(const std::string& bytes, PackageManifest* manifest, std::string* why) {
    std::string reason;
    PackageManifest parsed;
    bool ok = ParseLines(bytes, &parsed, &reason) && CheckLayout(parsed, &reason);
    if (ok)
        *manifest = std::move(parsed);
    else if (why)
        *why = reason;
    return ok;
}
