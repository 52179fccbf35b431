#pragma once
// Text in the private-profile (INI) form, read from bytes in memory the way
// GetPrivateProfileStringA and GetPrivateProfileIntA read a file under code page 936, whatever
// the system's code page is: "[section]" lines and "key=value" lines; names matched without
// regard to the case of ASCII letters; of two equal sections or keys the first wins; blanks
// around names and values dropped; one pair of matching quotes around a value dropped. Text
// without a byte-order mark is GBK; values come back as GBK.
#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

class ProfileText {
public:
    ProfileText() = default;
    explicit ProfileText(const std::string& bytes);

    // The value as a buffer of `capacity` bytes receives it (never a character cut in two);
    // "" when the section or key is missing.
    std::string ReadString(const std::string& section, const std::string& key, size_t capacity) const;
    // The value's leading integer (decimal, or 0x / 0o / 0b), wrapping as 32 bits; `missing`
    // when the key is missing or its value empty.
    int ReadInt(const std::string& section, const std::string& key, int missing) const;

private:
    struct Key {
        std::wstring name;
        std::wstring value;
    };
    struct Section {
        std::wstring name;
        std::vector<Key> keys;
    };
    const std::wstring* Find(const std::string& section, const std::string& key) const;

    std::vector<Section> m_sections;
    std::unordered_map<std::wstring, size_t> m_firstSection;  // folded name -> first such section
};
