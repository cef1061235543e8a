#pragma once
// The profile (INI file) reader.
#include <string>

namespace kvo {

// Value of `key` in `[section]` of `file`; sections and keys compared without regard to case;
// leading and trailing blanks of the value removed, one pair of surrounding double quotes too;
// cut to 254 characters. A missing file, section or key gives "". Accepts CR LF line ends and a
// UTF-8 byte-order mark. Never throws.
std::string GetIniString(const std::string& section, const std::string& key, const std::string& file);

}  // namespace kvo
