#pragma once
// The profile (INI file) reader.
#include <string>
#include <utility>
#include <vector>

namespace kvo {

using IniEntries = std::vector<std::pair<std::string, std::string>>;

// Every key=value line of the first section named `section` in a profile file's content, in
// file order: section names compared without regard to case, blanks around key and value
// removed, lines starting with ";" and lines without "=" or without a key skipped. Accepts CR LF
// line ends and a UTF-8 byte-order mark.
IniEntries IniSectionEntries(const std::string& content, const std::string& section);

// The entries of `[section]` in `file` (resolved without regard to case); empty when the file
// or section is missing. Values are as written. Never throws.
IniEntries GetIniSection(const std::string& section, const std::string& file);

// Value of `key` in `[section]` of `file`; keys compared without regard to case; one pair of
// surrounding double (or single) quotes removed; cut to 254 bytes (never inside a UTF-8
// character). The first matching section and key count. A missing file, section or key gives
// "". Never throws.
std::string GetIniString(const std::string& section, const std::string& key, const std::string& file);

}  // namespace kvo
