#pragma once
// The profile (INI file) reader.
#include <string>

namespace kvo {

// Value of `key` in `[section]` of `file`; sections and keys compared without regard to case;
// leading and trailing blanks of the value removed, one pair of surrounding double (or single)
// quotes too; cut to 254 bytes (never inside a UTF-8 character). The first matching section and
// key count. A missing file, section or key gives "". Lines starting with ";" are comments.
// Accepts CR LF line ends and a UTF-8 byte-order mark. The file name is resolved without regard
// to case. Never throws.
std::string GetIniString(const std::string& section, const std::string& key, const std::string& file);

}  // namespace kvo
