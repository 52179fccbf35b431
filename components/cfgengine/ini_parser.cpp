#include "ini_parser.h"

#include <climits>

namespace cfgengine {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string Trim(const std::string& text, size_t begin, size_t end) {
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

}  // namespace

std::string FoldCase(const std::string& text) {
    std::string folded;
    folded.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x81 && c <= 0xFE && i + 1 < text.size()) {
            folded += text[i];
            folded += text[++i];
        } else if (c >= 'A' && c <= 'Z') {
            folded += static_cast<char>(c - 'A' + 'a');
        } else {
            folded += text[i];
        }
    }
    return folded;
}

bool ParseIntValue(const std::string& text, int& value) {
    size_t i = 0;
    bool bNegative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) bNegative = text[i++] == '-';
    if (i == text.size()) return false;
    long long nValue = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        nValue = nValue * 10 + (text[i] - '0');
        if (nValue > static_cast<long long>(INT_MAX) + 1) return false;
    }
    if (bNegative) nValue = -nValue;
    if (nValue > INT_MAX || nValue < INT_MIN) return false;
    value = static_cast<int>(nValue);
    return true;
}

CIniData CIniData::Parse(const std::string& text) {
    CIniData data;
    size_t pos = 0;
    // Editors on Windows like to start UTF-8 files with a byte order mark.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) pos = 3;
    std::string strSection;
    bool bInSection = true;  // keys before any header belong to the unnamed section
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) eol = text.size();
        std::string line = Trim(text, pos, eol);
        pos = eol + 1;
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            size_t close = line.find(']');
            bInSection = close != std::string::npos;
            if (bInSection) strSection = FoldCase(Trim(line, 1, close));
            continue;
        }
        size_t eq = line.find('=');
        if (!bInSection || eq == std::string::npos) continue;
        std::string key = Trim(line, 0, eq);
        if (key.empty()) continue;
        // emplace keeps the first occurrence, as the Windows profile functions do.
        data.m_mapValues.emplace(std::make_pair(strSection, FoldCase(key)),
                                 Trim(line, eq + 1, line.size()));
    }
    return data;
}

const std::string* CIniData::Find(const std::string& section, const std::string& key) const {
    auto it = m_mapValues.find(std::make_pair(FoldCase(Trim(section, 0, section.size())),
                                              FoldCase(Trim(key, 0, key.size()))));
    return it == m_mapValues.end() ? nullptr : &it->second;
}

}  // namespace cfgengine
