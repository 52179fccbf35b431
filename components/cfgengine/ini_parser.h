#pragma once
// INI text parsing for CfgEngine.dll, free of file access so tests can feed it text.
#include <map>
#include <string>
#include <utility>

namespace cfgengine {

// The keys of an INI text by section, looked up case-insensitively.
class CIniData {
public:
    // Never fails: lines that are neither a section header, a key line nor a comment are
    // skipped, and so are the keys under an unterminated header like "[GameSet".
    static CIniData Parse(const std::string& text);

    // The trimmed value, or nullptr when the section or key is missing.
    const std::string* Find(const std::string& section, const std::string& key) const;

private:
    std::map<std::pair<std::string, std::string>, std::string> m_mapValues;
};

// ASCII letters folded to lower case. GBK double-byte characters are copied unchanged: their
// second byte may be an ASCII letter, and folding it would turn one character into another.
std::string FoldCase(const std::string& text);

// Optional sign and decimal digits that fit an int; anything else is refused.
bool ParseIntValue(const std::string& text, int& value);

}  // namespace cfgengine
