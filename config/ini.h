// The configuration file format: a small INI reader of our own, working on
// text already decoded to UTF-8 (the files themselves are GBK).
//
// Rules kept: "[name]" starts a section; "key=value" entries with blanks
// around key and value ignored and one pair of enclosing quotes removed; section
// and key names match without regard to ASCII case; the first occurrence of a
// key counts, and so does the first section of a name (keys under a repeated
// header are not seen); lines starting with ';' are comments; string values are cut at
// 4095 bytes of the file's encoding; a section's entries are enumerated up to
// 32767 bytes, the rest unseen; in that enumeration a line without '=' is its
// own name.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelto {

struct IniLine {
    std::string key;    // trimmed; the whole line when there is no '='
    std::string value;  // trimmed, quotes removed, cut to the value limit
    bool hasValue = false;
};

struct IniSection {
    std::string name;
    std::vector<IniLine> lines;
};

struct IniDocument {
    std::vector<IniSection> sections;  // in file order; a repeated name is kept but never read
};

inline constexpr size_t kIniValueLimit = 4095;     // bytes of the file's encoding
inline constexpr size_t kIniSectionLimit = 32767;  // bytes of one section listing

IniDocument ParseIni(std::string_view utf8Text);

// The first section of that name, the only one that counts; nullptr when
// there is none.
const IniSection* FindIniSection(const IniDocument& doc, std::string_view section);

// The value of the first occurrence of key in section; nullopt when the key
// (or the section) is absent. A key written without '=' reads as absent.
std::optional<std::string> IniReadString(const IniDocument& doc, std::string_view section,
                                         std::string_view key);

// The decimal number of a present key (ParseLeadingInt); nullopt when absent.
std::optional<int> IniReadInt(const IniDocument& doc, std::string_view section,
                              std::string_view key);

// "key=value" (or the bare line) of every entry of the section in file
// order, as far as the listing limit reaches; empty when it is absent.
std::vector<std::string> IniSectionEntries(const IniDocument& doc, std::string_view section);

}  // namespace kelto
